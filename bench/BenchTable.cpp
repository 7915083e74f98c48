// Prints the results of the benchmark programs and of the running-program measurement as one
// Markdown table: each case, our time beside the literal reference's from the same run, their
// ratio, and the target when the case has one. Exits with 1 when a target is missed.
//
// Usage: vexlor-bench-table <result.json>...
// A result is either Google Benchmark's JSON output, or a measurement file written by
// bench/idle-usage.sh: {"measurements": [{"case", "label", "value", "unit", "target_max"}]}.

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTextStream>

#include <cmath>
#include <map>

namespace {

struct Timing
{
    double median = NAN;
    double best = NAN;
    double cpuBest = NAN;
};

struct Row
{
    QString label;
    Timing ours;
    Timing literal;
    double targetMs = 0;
    double targetRatio = 0;
    // A measurement of the running program: its own value, unit and ceiling.
    QString value;
    double measured = NAN;
    double targetMax = 0;
    QString unit;
};

QString milliseconds(double ms)
{
    if (std::isnan(ms))
        return QStringLiteral("—");
    const int decimals = ms >= 100 ? 0 : ms >= 10 ? 1 : ms >= 1 ? 2 : ms >= 0.1 ? 3 : 4;
    return QString::number(ms, 'f', decimals) + QStringLiteral(" ms");
}

double msPerUnit(const QString &unit)
{
    if (unit == QStringLiteral("ns"))
        return 1e-6;
    if (unit == QStringLiteral("us"))
        return 1e-3;
    if (unit == QStringLiteral("s"))
        return 1e3;
    return 1;
}

QString loadNow()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(u' ', 0, 0)
                                          : QStringLiteral("unknown");
}

QString cpuModel()
{
    QFile file(QStringLiteral("/proc/cpuinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown CPU");
    const QString text = QString::fromUtf8(file.readAll());
    const auto match = QRegularExpression(QStringLiteral("model name\\s*:\\s*(.*)")).match(text);
    return match.hasMatch() ? match.captured(1).trimmed() : QStringLiteral("unknown CPU");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    std::map<QString, Row> rows;
    QStringList order;
    QJsonObject context;

    const auto rowOf = [&](const QString &id) -> Row & {
        if (!rows.contains(id))
            order.append(id);
        return rows[id];
    };

    for (const QString &path : app.arguments().mid(1)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            out << "cannot read " << path << Qt::endl;
            return 2;
        }
        const QJsonObject document = QJsonDocument::fromJson(file.readAll()).object();
        if (context.isEmpty())
            context = document.value(QStringLiteral("context")).toObject();
        for (const QJsonValue &value : document.value(QStringLiteral("benchmarks")).toArray()) {
            const QJsonObject run = value.toObject();
            // A case run several times is read from its median and minimum; a case run once,
            // from its only run.
            const QString aggregate = run.value(QStringLiteral("aggregate_name")).toString();
            const bool single =
                run.value(QStringLiteral("run_type")).toString() == QStringLiteral("iteration") &&
                run.value(QStringLiteral("repetitions")).toInt(1) <= 1;
            if (!single && aggregate != QStringLiteral("median") &&
                aggregate != QStringLiteral("min"))
                continue;
            // "<case>/ours" and "<case>/literal" pair up; any other name is a case of its own.
            const QStringList name = run.value(QStringLiteral("run_name")).toString().split(u'/');
            const bool paired = name.size() >= 2 && (name[1] == QStringLiteral("ours") ||
                                                     name[1] == QStringLiteral("literal"));
            Row &row = rowOf(name[0]);
            if (run.value(QStringLiteral("error_occurred")).toBool()) {
                row.label = name[0] + QStringLiteral(" (failed: ") +
                            run.value(QStringLiteral("error_message")).toString() + u')';
                continue;
            }
            if (row.label.isEmpty())
                row.label = run.value(QStringLiteral("label")).toString(name[0]);
            if (row.label.isEmpty())
                row.label = name[0];
            Timing &timing =
                paired && name[1] == QStringLiteral("literal") ? row.literal : row.ours;
            const double unit = msPerUnit(run.value(QStringLiteral("time_unit")).toString());
            const double ms = run.value(QStringLiteral("real_time")).toDouble() * unit;
            if (single || aggregate == QStringLiteral("min")) {
                timing.best = ms;
                timing.cpuBest = run.value(QStringLiteral("cpu_time")).toDouble() * unit;
            }
            if (single || aggregate == QStringLiteral("median"))
                timing.median = ms;
            if (run.contains(QStringLiteral("target_ms")))
                row.targetMs = run.value(QStringLiteral("target_ms")).toDouble();
            if (run.contains(QStringLiteral("target_ratio")))
                row.targetRatio = run.value(QStringLiteral("target_ratio")).toDouble();
        }
        for (const QJsonValue &value : document.value(QStringLiteral("measurements")).toArray()) {
            const QJsonObject measurement = value.toObject();
            Row &row = rowOf(measurement.value(QStringLiteral("case")).toString());
            row.label = measurement.value(QStringLiteral("label")).toString();
            row.measured = measurement.value(QStringLiteral("value")).toDouble();
            row.unit = measurement.value(QStringLiteral("unit")).toString();
            row.targetMax = measurement.value(QStringLiteral("target_max")).toDouble();
        }
    }

    const QJsonArray load = context.value(QStringLiteral("load_avg")).toArray();
    out << "Measured " << QDateTime::currentDateTime().toString(Qt::ISODate) << " on " << cpuModel()
        << ", " << context.value(QStringLiteral("num_cpus")).toInt() << " cores";
    if (!load.isEmpty())
        out << ", load average " << QString::number(load.at(0).toDouble(), 'f', 1)
            << " when the benchmarks began and " << loadNow() << " at the end";
    out << ".\nTimes are per operation, wall-clock unless marked CPU: the median and the best of "
           "several repetitions. The ratio and the targets use the best wall-clock times.\n\n";
    out << "| Case | Ours, median | Ours, best | Ours, best CPU | Literal, median | "
           "Literal, best | Literal ÷ ours | Target | Met |\n";
    out << "|---|---:|---:|---:|---:|---:|---:|---|---|\n";

    bool allMet = true;
    for (const QString &id : order) {
        const Row &row = rows[id];
        QStringList targets;
        bool met = true;
        if (!std::isnan(row.measured)) {
            const QString value = QString::number(row.measured, 'f', 2) + u' ' + row.unit;
            targets.append(QStringLiteral("< ") + QString::number(row.targetMax) + u' ' + row.unit);
            met = row.measured < row.targetMax;
            out << "| " << row.label << " | " << value << " | | | | | | " << targets.join(", ")
                << " | " << (met ? "yes" : "**no**") << " |\n";
            allMet = allMet && met;
            continue;
        }
        const double ratio = row.literal.best / row.ours.best;
        if (row.targetMs > 0) {
            targets.append(QStringLiteral("< ") + milliseconds(row.targetMs));
            met = met && row.ours.best < row.targetMs;
        }
        if (row.targetRatio > 0) {
            targets.append(QStringLiteral("≥ ") + QString::number(row.targetRatio) + u'×');
            met = met && ratio >= row.targetRatio;
        }
        const bool hasTarget = !targets.isEmpty();
        allMet = allMet && met;
        out << "| " << row.label << " | " << milliseconds(row.ours.median) << " | "
            << milliseconds(row.ours.best) << " | " << milliseconds(row.ours.cpuBest) << " | "
            << milliseconds(row.literal.median) << " | " << milliseconds(row.literal.best) << " | "
            << (std::isnan(ratio) ? QStringLiteral("—")
                                  : QString::number(ratio, 'f', ratio >= 10 ? 0 : 1) + u'×')
            << " | " << targets.join(QStringLiteral(", ")) << " | "
            << (hasTarget ? (met ? "yes" : "**no**") : "") << " |\n";
    }
    return allMet ? 0 : 1;
}
