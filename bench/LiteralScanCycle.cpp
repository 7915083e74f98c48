#include "LiteralScanCycle.h"

#include "filter/JournalTime.h"
#include "filter/RecordFormat.h"
#include "platform/BrowserWindowSource.h"
#include "platform/SoundPlayer.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>

LiteralScanCycle::LiteralScanCycle(const ScanControls &controls, BrowserWindowSource &source,
                                   SoundPlayer &sound, ScanCycle::Clock clock, QLocale locale)
    : m_controls(controls), m_source(source), m_sound(sound), m_clock(std::move(clock)),
      m_locale(std::move(locale))
{}

void LiteralScanCycle::tick()
{
    QTreeWidget *windows = m_controls.ListView1;
    const QTreeWidget *keywords = m_controls.ListView3;

    // 1. Remember the selection.
    for (int r = 0; r < windows->topLevelItemCount(); ++r) {
        if (windows->topLevelItem(r)->isSelected()) {
            m_selectedWindowRow = r + 1;
            break;
        }
        m_selectedWindowRow = 0;
    }

    // 2. Clear the list and insert one row per page, in walking order.
    windows->clear();
    int running = 1;
    for (const BrowserPage &page : m_source.walk()) {
        if (running > kMaxRows)
            break;
        auto *row = new QTreeWidgetItem;
        row->setText(0, page.pageName.value_or(QString()));
        row->setText(1, page.address.value_or(QString()));
        row->setData(0, Qt::UserRole, QVariant::fromValue(page.handle));
        windows->insertTopLevelItem(running - 1, row);
        ++running;
    }

    // 3. Restore the selection by row number.
    if (m_selectedWindowRow > windows->topLevelItemCount())
        m_selectedWindowRow = windows->topLevelItemCount();
    if (m_selectedWindowRow != 0)
        windows->topLevelItem(m_selectedWindowRow - 1)->setSelected(true);

    // 4. Nothing listed.
    if (windows->topLevelItemCount() == 0)
        return;

    // 5. Every pair, lower-cased in the inner loop.
    const int windowCount = windows->topLevelItemCount();
    for (int i = 0; i < windowCount; ++i) {
        const int keywordCount = keywords->topLevelItemCount();
        for (int j = 0; j < keywordCount; ++j) {
            const QString name = windows->topLevelItem(i)->text(0).toLower();
            const QString address = windows->topLevelItem(i)->text(1).toLower();
            const QString key = keywords->topLevelItem(j)->text(0).toLower();
            // An empty key would be contained in every text; it matches nothing.
            const bool matches = !key.isEmpty() && (name.contains(key) || address.contains(key));
            if (matches)
                closeSequence(i, j);
        }
    }
}

void LiteralScanCycle::closeSequence(int windowRow, int keywordRow)
{
    const QTreeWidgetItem *row = m_controls.ListView1->topLevelItem(windowRow);
    const QString keyword = m_controls.ListView3->topLevelItem(keywordRow)->text(0);

    QTreeWidget *journal = m_controls.ListView4;
    if (journal->topLevelItemCount() >= kMaxRows)
        delete journal->takeTopLevelItem(0);
    journal->addTopLevelItem(
        new QTreeWidgetItem({journalTimeText(m_clock(), m_locale), keyword, row->text(1)}));

    QTreeWidget *statistics = m_controls.ListView2;
    for (int k = 0; k < statistics->topLevelItemCount(); ++k) {
        QTreeWidgetItem *counted = statistics->topLevelItem(k);
        if (counted->text(1) == keyword) {
            if (const auto value = RecordFormat::countValue(counted->text(0)))
                counted->setText(0, RecordFormat::countText(*value + 1));
            break;
        }
    }

    if (m_closedTotal < kMaxRows)
        ++m_closedTotal;
    m_controls.sb->setText(QStringLiteral("Fermeture: ") + row->text(0) +
                           QStringLiteral("     (Total:") + QString::number(m_closedTotal) +
                           QStringLiteral(")"));

    const auto handle = row->data(0, Qt::UserRole).value<WindowHandle>();
    if (handle.isValid())
        m_source.requestClose(handle);

    if (m_controls.Check1->checkState() == Qt::Checked)
        m_sound.playSync(m_controls.Text1->text());
}
