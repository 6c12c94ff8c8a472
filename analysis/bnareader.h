#pragma once

#include "bnainput.h"
#include "workspace.h"

#include <string>

namespace zarn {

// The record operations over an open BNA file. A record is a header (first
// name, second name, optionally one or two further quoted names as Atlas and
// TIGER files carry, and the point count) followed by its coordinate pairs,
// x (longitude) then y (latitude). A caller's loop:
//   while (!in.AtEnd()) { ws.ResetPolygon(); ReadBnaHeader(...);
//     if (nPoints > MaxPoints) SkipBnaPoints(...); else ReadBnaPoints(...); }

// Reads the header into the two names and curPoly.nPoints. The names are the
// file's bytes, without their quotes.
void ReadBnaHeader(BnaInput& in, std::string& firstName, std::string& secondName, Workspace& ws);

// Reads the record's pairs into slots 0 .. n - 1. A negative count -n is a
// line of n points in the BNA convention: its pairs are read past and the
// record keeps no points.
void ReadBnaPoints(BnaInput& in, Workspace& ws);

// Reads past the pairs of a record over MaxPoints without storing them.
void SkipBnaPoints(BnaInput& in, const Workspace& ws);

}  // namespace zarn
