#include "ScanBenchmarks.h"
#include "BenchData.h"
#include "BenchRegistry.h"
#include "LiteralScanCycle.h"
#include "ScanLists.h"

#include <map>

namespace {

struct Inputs
{
    QList<BrowserPage> pages;
    QStringList keywords;
};

// Pages and keywords that match nothing, made once per size: the keywords are checked against
// every page.
const Inputs &noMatch(int pages, int keywords)
{
    static std::map<std::pair<int, int>, Inputs> made;
    auto &inputs = made[{pages, keywords}];
    if (inputs.pages.isEmpty()) {
        inputs.pages = BenchData::pages(pages);
        inputs.keywords = BenchData::keywordsMissing(inputs.pages, keywords);
    }
    return inputs;
}

// The same, with one page in a hundred (at least one) made to hold a keyword of its own, in
// another case than the keyword, spread over the keyword list.
Inputs oneInAHundredMatching(int pages, int keywords)
{
    Inputs inputs = noMatch(pages, keywords);
    const int matching = std::max(1, pages / 100);
    for (int k = 0; k < matching; ++k) {
        const QString marker = QStringLiteral("promo%1x").arg(k);
        BrowserPage &page = inputs.pages[(k * 100 + 50) % pages];
        page.pageName = *page.pageName + u' ' + marker.toUpper();
        inputs.keywords[keywords * (k + 1) / (matching + 1)] = marker;
    }
    return inputs;
}

template <typename Scan>
void tick(benchmark::State &state, const Inputs &inputs)
{
    ScanLists lists(inputs.pages, inputs.keywords);
    Scan scan(lists.controls(), lists.source, lists.sound);
    scan.tick();
    for (auto _ : state)
        scan.tick();
}

// The first tick after an edit of the keyword list, which rebuilds what the scan keeps.
template <typename Scan>
void tickAfterEdit(benchmark::State &state, const Inputs &inputs)
{
    ScanLists lists(inputs.pages, inputs.keywords);
    Scan scan(lists.controls(), lists.source, lists.sound);
    scan.tick();
    QTreeWidgetItem *edited = lists.ListView3.topLevelItem(0);
    const QString original = edited->text(0);
    bool flip = false;
    for (auto _ : state) {
        state.PauseTiming();
        flip = !flip;
        edited->setText(0, flip ? original + u'z' : original);
        state.ResumeTiming();
        scan.tick();
    }
}

std::string sizeName(int pages, int keywords)
{
    return std::to_string(pages) + 'x' + std::to_string(keywords);
}

std::string sizeLabel(int pages, int keywords)
{
    return std::to_string(pages) + " pages, " +
           QLocale(QLocale::English).toString(keywords).toStdString() + " keywords";
}

void addPair(const std::string &id, const std::string &label,
             std::function<void(benchmark::State &)> ours,
             std::function<void(benchmark::State &)> literal, bool heavyLiteral,
             BenchRegistry::Target target = {})
{
    BenchRegistry::add(id, "ours", label, std::move(ours), BenchRegistry::Weight::Light, target);
    BenchRegistry::add(id, "literal", label, std::move(literal),
                       heavyLiteral ? BenchRegistry::Weight::Heavy : BenchRegistry::Weight::Light);
}

} // namespace

void registerScanBenchmarks()
{
    const struct
    {
        int pages;
        int keywords;
        BenchRegistry::Target target;
    } sizes[] = {{20, 100, {}}, {100, 1000, {}}, {100, 10000, {1, 100}}, {200, 32767, {5, 0}}};
    for (const auto &size : sizes) {
        const int pages = size.pages;
        const int keywords = size.keywords;
        addPair(
            "tick-nomatch-" + sizeName(pages, keywords),
            "tick, no match, " + sizeLabel(pages, keywords),
            [=](benchmark::State &s) { tick<ScanCycle>(s, noMatch(pages, keywords)); },
            [=](benchmark::State &s) { tick<LiteralScanCycle>(s, noMatch(pages, keywords)); },
            keywords >= 10000, size.target);
    }
    for (const auto &[pages, keywords] : {std::pair{100, 10000}, std::pair{200, 32767}}) {
        addPair(
            "tick-1pct-" + sizeName(pages, keywords),
            "tick, 1 % of pages matching, " + sizeLabel(pages, keywords),
            [=](benchmark::State &s) {
                tick<ScanCycle>(s, oneInAHundredMatching(pages, keywords));
            },
            [=](benchmark::State &s) {
                tick<LiteralScanCycle>(s, oneInAHundredMatching(pages, keywords));
            },
            true);
    }
    addPair(
        "tick-after-edit-200x32767", "first tick after a keyword edit, " + sizeLabel(200, 32767),
        [](benchmark::State &s) { tickAfterEdit<ScanCycle>(s, noMatch(200, 32767)); },
        [](benchmark::State &s) { tickAfterEdit<LiteralScanCycle>(s, noMatch(200, 32767)); }, true);
    addPair(
        "refill-200", "tick with no keyword: the refill of ListView1, 200 pages",
        [](benchmark::State &s) {
            tick<ScanCycle>(s, {BenchData::pages(200), {}});
        },
        [](benchmark::State &s) {
            tick<LiteralScanCycle>(s, {BenchData::pages(200), {}});
        },
        false);
}
