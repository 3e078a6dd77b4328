// One full draw of each view into an offscreen image at device-pixel ratio 2 through
// PainterContext (painter begin, draw, end), as the zoomed screen paints it.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <cmath>
#include <map>
#include <memory>
#include <string>

#include "BenchSummary.h"
#include "views/BarGraph.h"
#include "views/ColorView.h"
#include "views/DirectionSensorView.h"
#include "views/GraphView.h"
#include "views/PainterContext.h"

namespace {

QImage imageFor(const QWidget& view) {
    QImage image(view.size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2.0);
    image.fill(Qt::black);
    return image;
}

template <typename View>
void drawLoop(benchmark::State& state, View& view) {
    QImage image = imageFor(view);
    for (auto _ : state) {
        QPainter painter(&image);
        {
            fm::views::PainterContext context(painter);
            view.drawRect(context);
        }
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}

void BM_DrawDirection(benchmark::State& state) {
    auto view = std::make_unique<fm::views::DirectionSensorView>();
    view->setGeometry(0, 0, 320, 320);
    view->initWithCoder();
    // A ring of mixed readings, the way a few seconds of turning leave it; they age (and turn
    // translucent) as the benchmark runs, as on the screen.
    for (int theta = 0; theta < 360; theta += 7) {
        view->updatePolarR(20.0 + (theta % 100), theta);
    }
    drawLoop(state, *view);
}

// The same ring while the device turns: the ring is turned by a degree at every draw, so no
// segment lands where it did the draw before.
void BM_DrawDirectionTurning(benchmark::State& state) {
    auto view = std::make_unique<fm::views::DirectionSensorView>();
    view->setGeometry(0, 0, 320, 320);
    view->initWithCoder();
    for (int theta = 0; theta < 360; theta += 7) {
        view->updatePolarR(20.0 + (theta % 100), theta);
    }
    QImage image = imageFor(*view);
    for (auto _ : state) {
        fm::views::lastTheta = (fm::views::lastTheta + 1) % 360;
        QPainter painter(&image);
        {
            fm::views::PainterContext context(painter);
            view->drawRect(context);
        }
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}

// For comparison, what the ring's strokes cost bare: a plain QPainter at the same scale
// stroking 359 opaque 1-degree arcs of the same width, one call each, each arc as its chord
// (the ring's own geometry; the chord lies within 0.01 device pixels of the arc).
void BM_DrawDirectionBare(benchmark::State& state) {
    QImage image(QSize(320, 320) * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2.0);
    image.fill(Qt::black);
    constexpr double kDegree = 0.0174532925;
    for (auto _ : state) {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.translate(160.0, 160.0);
        painter.scale(0.7, 0.7);
        QPen pen(QColor(193, 193, 80));
        pen.setWidthF(15.0);
        pen.setCapStyle(Qt::FlatCap);
        painter.setPen(pen);
        for (int k = 0; k < 359; ++k) {
            painter.drawLine(
                QPointF(110.0 * std::cos(k * kDegree), 110.0 * std::sin(k * kDegree)),
                QPointF(110.0 * std::cos((k + 1) * kDegree), 110.0 * std::sin((k + 1) * kDegree)));
        }
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
    }
}

// The waveform graph as the screen feeds it: magnitudes of a waveform in the first curve, the
// second (spectrum) array zeroed, so it is the flat red line.
void BM_DrawGraph(benchmark::State& state) {
    auto view = std::make_unique<fm::views::GraphView>();
    view->setGeometry(0, 0, 320, 110);
    view->initWithCoder();
    view->externalYConversion = 0.5;
    view->logScaleMode = true;
    for (std::size_t j = 0; j < 320; ++j) {
        view->dataPoints[j] = 16000.0 * std::abs(std::sin(static_cast<double>(j) / 9.0));
    }
    view->beatXPosition = 100.0f;
    drawLoop(state, *view);
}

// Not a screen case: both curves busy at once, for comparison.
void BM_DrawGraphBothBusy(benchmark::State& state) {
    auto view = std::make_unique<fm::views::GraphView>();
    view->setGeometry(0, 0, 320, 110);
    view->initWithCoder();
    view->externalYConversion = 0.5;
    view->logScaleMode = true;
    for (std::size_t j = 0; j < 320; ++j) {
        view->dataPoints[j] = 16000.0 * std::abs(std::sin(static_cast<double>(j) / 9.0));
        view->dataPoints2[j] = 250.0 * std::abs(std::cos(static_cast<double>(j) / 13.0));
    }
    drawLoop(state, *view);
}

void BM_DrawColorView(benchmark::State& state) {
    auto view = std::make_unique<fm::views::ColorView>();
    view->setGeometry(0, 0, 320, 480);
    view->normPower = 0.7f;
    drawLoop(state, *view);
}

void BM_DrawBarGraph(benchmark::State& state) {
    auto view = std::make_unique<fm::views::BarGraph>();
    view->setGeometry(0, 0, 30, 200);
    view->normPower = 0.6f;
    drawLoop(state, *view);
}

BENCHMARK(BM_DrawDirection)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawDirectionTurning)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawDirectionBare)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawGraph)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawGraphBothBusy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawColorView)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawBarGraph)->Unit(benchmark::kMillisecond);

// Keeps each benchmark's mean processor time per draw, in milliseconds. Processor time, not
// wall time: the machine is shared, and time spent waiting for a core is not drawing time.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
                const double seconds =
                    run.cpu_accumulated_time / static_cast<double>(run.iterations);
                ms[run.run_name.function_name] = seconds * 1000.0;
            }
        }
    }
    std::map<std::string, double> ms;
};

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const std::pair<const char*, const char*> keys[] = {
        {"BM_DrawDirection", "draw_direction_ms"},
        {"BM_DrawDirectionTurning", "draw_direction_turning_ms"},
        {"BM_DrawDirectionBare", "draw_direction_bare_ms"},
        {"BM_DrawGraph", "draw_graph_ms"},
        {"BM_DrawGraphBothBusy", "draw_graph_both_busy_ms"},
        {"BM_DrawColorView", "draw_colorview_ms"},
        {"BM_DrawBarGraph", "draw_bargraph_ms"},
    };
    for (const auto& [name, key] : keys) {
        if (const auto it = reporter.ms.find(name); it != reporter.ms.end()) {
            fm::bench::recordSummary(key, it->second);
        }
    }
    return 0;
}
