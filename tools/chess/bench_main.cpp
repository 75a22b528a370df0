// Times the rules core (perft) and the search (nodes per second), the two
// figures that tell whether the emulator keeps up with the bridge's time-outs.
//
//   chess-bench [perft-depth] [search-nodes]
#include "board.hpp"
#include "search.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
    int depth = argc > 1 ? std::atoi(argv[1]) : 5;
    long long search_nodes = argc > 2 ? std::atoll(argv[2]) : 2000000;
    using Clock = std::chrono::steady_clock;

    chess::Position pos = chess::Position::start();
    auto t0 = Clock::now();
    std::uint64_t count = chess::perft(pos, depth);
    double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("perft(%d) from the start position: %llu in %.2f s (%.0f nodes/s)\n", depth,
                static_cast<unsigned long long>(count), seconds, static_cast<double>(count) / seconds);

    const char *fens[] = {
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
        "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
        "r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP3PPP/R2QKB1R w KQ - 0 8",
    };
    std::uint64_t total = 0;
    double total_seconds = 0;
    for (const char *fen : fens) {
        auto p = chess::Position::from_fen(fen);
        chess::Searcher searcher;
        chess::SearchLimits limits;
        limits.max_nodes = static_cast<std::uint64_t>(search_nodes);
        auto s0 = Clock::now();
        auto result = searcher.run(*p, limits, nullptr);
        double s = std::chrono::duration<double>(Clock::now() - s0).count();
        total += result.nodes;
        total_seconds += s;
        std::printf("search: depth %d, %llu nodes in %.2f s, best %s\n", result.depth,
                    static_cast<unsigned long long>(result.nodes), s, chess::to_coordinate(result.best).c_str());
    }
    std::printf("search speed: %.0f nodes/s\n", static_cast<double>(total) / total_seconds);
    return 0;
}
