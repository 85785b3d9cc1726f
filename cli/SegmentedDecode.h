// Runs a decoding pass's segments on up to pass.threads threads, each taking a run of
// consecutive segments, so that a source only says how one segment is decoded.
// Threading: called on the converting thread; `segment` runs on the pool's threads too.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>

#include "cli/PcmSource.h"

namespace cli {

// Decodes segment `index` (0 for a pass without segments) on worker `worker` (0 is the calling
// thread); ends early when `stop` becomes true. Returns kRedecode when the segment did not decode
// as planned, kStopped when it stopped, kComplete otherwise; may throw.
using SegmentDecoder = std::function<DecodeStatus(std::size_t worker, std::size_t index,
                                                  const std::atomic<bool>& stop)>;

// How many workers a pass takes: one per thread it may use, at most one per segment.
std::size_t PassWorkers(const DecodePass& pass);

// Runs every segment of `pass` (or the one run without segments) with PassWorkers(pass)
// workers. The first exception a worker throws is thrown again here once all have ended; the
// first status other than kComplete stops the others and is returned.
DecodeStatus DecodeSegments(DecodePass& pass, const std::atomic<bool>* cancel,
                            const SegmentDecoder& segment);

}  // namespace cli
