#pragma once

#include "bnainput.h"
#include "workspace.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace zarn {

// The record operations over an open BNA file. A record is a header (first
// name, second name, optionally one or two further quoted names as Atlas and
// TIGER files carry, and the point count) followed by its coordinate pairs,
// x (longitude) then y (latitude). A caller's loop:
//   while (!in.AtEnd()) { ws.ResetPolygon(); ReadBnaHeader(...);
//     if (nPoints > MaxPoints) SkipBnaPoints(...); else ReadBnaPoints(...); }

// Reads a record's header: counts the record, puts the two names (the file's
// bytes, without their quotes) into `firstName` and `secondName`, passes over
// any further names and returns the point count as written.
std::int32_t ReadRecordHeader(BnaInput& in, std::string& firstName, std::string& secondName);

// Reads the header into the two names and curPoly.nPoints (ReadRecordHeader).
void ReadBnaHeader(BnaInput& in, std::string& firstName, std::string& secondName, Workspace& ws);

// Reads the record's pairs into slots 0 .. n - 1. A negative count -n is a
// line of n points in the BNA convention: its pairs are read past and the
// record keeps no points.
// Reading past pairs can take as long as the file is big (a count may claim
// two billion of them): when `stop` is given, it is looked at every few
// thousand pairs, and once it is true the reading ends there, inside the
// record.
void ReadBnaPoints(BnaInput& in, Workspace& ws, const std::atomic<bool>* stop = nullptr);

// Reads past the pairs of a record over MaxPoints without storing them;
// `stop` as for ReadBnaPoints.
void SkipBnaPoints(BnaInput& in, const Workspace& ws, const std::atomic<bool>* stop = nullptr);

}  // namespace zarn
