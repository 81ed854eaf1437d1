#pragma once
// What every benchmark program shares: its main, and reproducible data.

#include <QApplication>
#include <QByteArray>
#include <benchmark/benchmark.h>
#include <functional>

namespace bench {

// Runs the registered benchmarks inside a Qt application on the offscreen platform
// (pictures, fonts and windows need one; nothing is shown). `prepare` runs after the
// arguments are read and before the first benchmark. An unknown argument ends it.
inline int runBenchmarks(int argc, char **argv, const std::function<void()> &prepare = {})
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (prepare)
        prepare();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// `size` bytes from a xorshift generator started at `seed`, each passed through `shape`.
template <typename Shape>
QByteArray pseudoRandom(qint64 size, quint32 seed, Shape shape)
{
    QByteArray out(size, Qt::Uninitialized);
    quint32 x = 2463534242u ^ seed;
    for (qint64 i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = shape(x);
    }
    return out;
}

} // namespace bench
