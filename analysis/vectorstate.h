#pragma once

namespace zarn {

// Marks the upper halves of the AVX registers unused (VZEROUPPER) on x86-64
// processors that have them; does nothing elsewhere.
//
// Code built for AVX that returns without doing this (some of Qt's start-up
// and text rendering does) leaves every later SSE instruction of the thread
// waiting on those upper halves: on Intel processors the scalar arithmetic
// of a run then takes three to five times as long, and a thread started
// meanwhile inherits the state. A run calls this after work in Qt and before
// starting its threads; it costs a few cycles.
void ClearUpperVectorState() noexcept;

}  // namespace zarn
