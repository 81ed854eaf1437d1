#pragma once
// What a posting or fetching run shows while it works: a busy indication of its
// kind, a bar of `count` steps and a one-line text. The progress window implements
// it; tests record it.

#include <QString>

class RunProgress {
public:
    enum class Kind { Post, Fetch };

    virtual ~RunProgress() = default;
    // The run starts: the bar at 0 of `count`, the animation of `kind` running, `text` shown.
    virtual void begin(Kind kind, int count, const QString &text) = 0;
    // The bar at `position`, `text` shown.
    virtual void advance(int position, const QString &text) = 0;
    // The run has ended: the animation stops and the indication goes away.
    virtual void end() = 0;
};
