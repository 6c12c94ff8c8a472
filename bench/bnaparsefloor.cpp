// bna-parse-floor: the least any run over a BNA file can cost on this
// machine. It reads the file with the analysis' own reader and number parser
// and parses every field of every record (names, count, each coordinate) in
// record order, doing nothing else: no geometry, no result files, no lines.
// The benchmark states every other run as a multiple of this one.
//
// Prints the number of records and pairs and a checksum of the coordinate
// bits, so that no parse can be optimised away and two readers can be
// compared.

#include "bnainput.h"
#include "bnareader.h"
#include "runerror.h"

#include <bit>
#include <cstdint>
#include <cstdio>
#include <string>

namespace zarn::bench {

namespace {

int Main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fputs("Usage: bna-parse-floor FILE.bna\n", stderr);
        return 2;
    }
    std::uint64_t records = 0;
    std::uint64_t pairs = 0;
    std::uint32_t checksum = 0;
    try {
        BnaInput in(argv[1]);
        std::string firstName;
        std::string secondName;
        // The record structure of the reader: header, then the pairs.
        while (!in.AtEnd()) {
            const std::int32_t n = ReadRecordHeader(in, firstName, secondName);
            const std::int64_t count = n < 0 ? -static_cast<std::int64_t>(n) : n;
            for (std::int64_t k = 0; k < count; ++k) {
                checksum ^= std::bit_cast<std::uint32_t>(in.ReadCoordinate());
                checksum = std::rotl(checksum, 1) ^ std::bit_cast<std::uint32_t>(in.ReadCoordinate());
            }
            checksum ^= static_cast<std::uint32_t>(firstName.size() + secondName.size());
            pairs += static_cast<std::uint64_t>(count);
        }
        records = static_cast<std::uint64_t>(in.record);
    } catch (const RunError& e) {
        std::fprintf(stderr, "bna-parse-floor: %s\n", e.what());
        return 1;
    }
    std::printf("records=%llu pairs=%llu checksum=%08x\n", static_cast<unsigned long long>(records),
                static_cast<unsigned long long>(pairs), checksum);
    return 0;
}

}  // namespace

}  // namespace zarn::bench

int main(int argc, char* argv[])
{
    return zarn::bench::Main(argc, argv);
}
