#pragma once

// What the embedding views' benchmarks time per iteration: the scatterplot's
// refreshEmbedding, its frame and the event processing after it, with the
// painting done inside that event processing counted as drawing (the
// spinner's animation makes the window recompose the view every iteration).

#include "scatterplot/UI_ScatterplotWidget.h"

#include "helpers/clock.h"

#include <QApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>

#include <cstdint>

namespace bench {

inline double millisecondsSince(int64_t ticks)
{
    return static_cast<double>(orb::currentTicks() - ticks) * 1e-4;
}

/// Times every painting of a window (a window shown, the widgets, the view's
/// frame and the composition of the window), nested painting once.
class PaintTimingApplication : public QApplication
{
public:
    using QApplication::QApplication;
    double paintingMs = 0.0;

    bool notify(QObject* receiver, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (m_painting || (type != QEvent::UpdateRequest && type != QEvent::Paint && type != QEvent::Expose))
            return QApplication::notify(receiver, event);
        m_painting = true;
        const int64_t start = orb::currentTicks();
        const bool handled = QApplication::notify(receiver, event);
        paintingMs += millisecondsSince(start);
        m_painting = false;
        return handled;
    }

private:
    bool m_painting = false;
};

/// The view's steps of each iteration, summed over the iterations measured.
/// The views' own slot does the same three steps, with a deferred repaint.
class ViewIterationTimes
{
public:
    double refreshMs = 0.0, frameMs = 0.0, eventsMs = 0.0, eventsPaintingMs = 0.0;

    void reset() { refreshMs = frameMs = eventsMs = eventsPaintingMs = 0.0; }

    /// One iteration shown: the embedding copied and uploaded, the frame
    /// painted and finished on the GPU, then the events it leaves pending.
    void measure(UI_ScatterplotWidget* plot, const PaintTimingApplication& application)
    {
        int64_t start = orb::currentTicks();
        plot->refreshEmbedding();
        refreshMs += millisecondsSince(start);
        start = orb::currentTicks();
        plot->repaint();
        plot->makeCurrent();
        QOpenGLContext::currentContext()->functions()->glFinish();
        plot->doneCurrent();
        frameMs += millisecondsSince(start);
        start = orb::currentTicks();
        const double paintedBefore = application.paintingMs;
        QCoreApplication::processEvents();
        eventsMs += millisecondsSince(start);
        eventsPaintingMs += application.paintingMs - paintedBefore;
    }

    /// The view's work that is not drawing: the refresh and the event
    /// processing other than painting.
    double nonDrawingMs() const { return refreshMs + eventsMs - eventsPaintingMs; }
};

} // namespace bench
