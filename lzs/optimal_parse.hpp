// The optimal parse, in bounded memory: the cheapest path over the input
// positions (9 bits for a literal, 17 for a back-reference), given the
// longest match at each position, emitted as soon as it is decided.
//
// Costs. Node k is the point after k input bytes; c(k) is the cost of the
// cheapest path to it. When position i is reached, c(i) is final, and it
// offers a literal to node i + 1 and a copy of every length from MinCopy to
// its longest match; only the costs of the next MaxCopy nodes are live. Of
// equal offers the first is kept. A copy from i to k is no gain when an
// earlier position j, no dearer than i, already offered a copy to k, so
// those lengths are skipped (a match of length L at j gives one of L - 1 at
// j + 1, so j reached all of them); the parse is the same as without the
// skip.
//
// Emitting. Each node keeps the item that ends it on its cheapest path (its
// entry). The path that the image will follow is decided by the input still
// to come, but it leaves the part read so far through one of the last few
// nodes (node k, or a node whose match reaches past k): wherever the chains of
// entries from those nodes meet, every later path passes, and the items up to
// there are final. On ordinary data they meet a few items back. In long
// repeats (runs, periodic patterns) they run side by side until the repeat
// ends; there the entries repeat too, and the store keeps one period of
// them for the whole stretch (PendingStore), so memory stays bounded. Chains
// are followed through such a stretch a period at a time; once the set of
// chains at a period's edge repeats, the rest of the stretch repeats it too
// and is skipped.
//
// Only an input built so that its chains stay apart over a long span that
// does not repeat (no ordinary data and none of the repeats above) needs
// memory in proportion; beyond the limit given to Start the parse fails.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "lzs/buffer.hpp"
#include "lzs/item_writer.hpp"

namespace lzs {

// A match or an item in 16 bits: the distance (1 to MaxDistance) in the high
// 12 bits and the copy length minus MinCopy in the low 4; 0 is no match, or a
// literal.
using MatchCode = std::uint16_t;

constexpr std::uint32_t CodeLength(std::uint32_t code) {
  return code == 0 ? 1 : (code & 0x0F) + MinCopy;
}
constexpr std::uint32_t CodeDistance(std::uint32_t code) { return code >> 4; }
constexpr MatchCode MakeCode(std::uint32_t distance, std::uint32_t length) {
  return static_cast<MatchCode>(distance << 4 | (length - MinCopy));
}

// The entries of the nodes not yet emitted: per node, the item that ends it
// on its cheapest path (MatchCode) and the input byte before it, as
// code | byte << 16. Where the entries repeat with a period for long, one
// period stands for the whole stretch.
class PendingStore {
 public:
  // A run of nodes: explicit (period 0: the entries of [begin, end) from
  // arena offset `offset`), or a stretch (node k's entry is the one at
  // offset + (k - phase) mod period).
  struct Piece {
    std::uint64_t begin;
    std::uint64_t end;
    std::uint64_t phase;
    std::uint32_t period;
    std::size_t offset;
  };

  // Empty; the next node appended is `first`. limitBytes bounds the memory
  // (0: no bound).
  void Reset(std::uint64_t first, std::size_t limitBytes);
  // The entry of node Next(); false when the memory is out or over the limit.
  bool Append(std::uint32_t entry);
  // Where the entries of the next `room` nodes may be written straight
  // (room may be 0); Commit(n) then says how many were.
  std::uint32_t* Room(std::size_t& room) {
    room = 0;
    if (pieceEnd_ == pieceBegin_) return nullptr;
    const Piece& last = pieces_[pieceEnd_ - 1];
    const std::uint64_t held = next_ - last.begin;
    if (last.period != 0 || held >= TrackAfter) return nullptr;
    room = std::min<std::size_t>(arena_.size() - arenaUsed_, TrackAfter - held);
    return arena_.data() + arenaUsed_;
  }
  void Commit(std::size_t n) {
    if (n == 0) return;
    arenaUsed_ += n;
    pieces_[pieceEnd_ - 1].end += n;
    next_ += n;
  }
  std::uint64_t Next() const { return next_; }
  // Whether node (which must be held) is in the last piece, an explicit one.
  bool InLastExplicit(std::uint64_t node) const {
    const Piece& last = pieces_[pieceEnd_ - 1];
    return node >= last.begin && last.period == 0;
  }
  // The piece holding node (which must be held) and node's entry.
  const Piece& PieceOf(std::uint64_t node);
  std::uint32_t At(std::uint64_t node);
  // Nodes below `node` are not asked for any more.
  void DropBefore(std::uint64_t node);
  std::size_t Bytes() const;

 private:
  // A period is looked for among the entries of a piece from this many on.
  static constexpr std::uint64_t TrackAfter = 2048;

  Piece& Last() { return pieces_[pieceEnd_ - 1]; }
  void StopLooking();
  bool NewPiece(const Piece& piece);
  void MakeStretch(std::uint64_t node);
  void Compact();

  Buffer<std::uint32_t> arena_;
  std::size_t arenaUsed_ = 0;
  Buffer<Piece> pieces_;
  std::size_t pieceBegin_ = 0;
  std::size_t pieceEnd_ = 0;
  std::size_t cached_ = 0;  // the piece last looked up
  std::uint64_t next_ = 0;
  std::size_t limit_ = 0;
  // Looking for a period: the candidate period, how many of the latest
  // entries equal the one a period before, and where the open stretch's next
  // node falls in its period.
  std::uint32_t period_ = 0;
  std::uint64_t run_ = 0;
  std::uint32_t stretchPhase_ = 0;
  std::uint32_t farthest_ = 0;  // largest distance of late entries
  std::uint32_t periodOf_ = 0;  // the farthest distance period_ was made for
  std::uint64_t farthestSince_ = 0;
};

class OptimalParse {
 public:
  // A new input: node 0. limitBytes bounds the store of entries (0: none).
  bool Start(std::size_t limitBytes);

  // The next input positions: their longest matches and their bytes. Takes
  // them until a check decides items (Emitting()) or the memory runs out;
  // returns how many it took. Not while Emitting().
  std::size_t Steps(const MatchCode* matches, const std::uint8_t* bytes, std::size_t count);

  // The input has ended: all of the parse is to be emitted.
  void End();

  // Items are decided and wait for Emit.
  bool Emitting() const { return emitting_; }
  // Writes decided items while the writer has room.
  void Emit(ItemWriter& writer);

  bool Failed() const { return failed_; }
  std::size_t Bytes() const;

 private:
  // Some chains of entries at once: bit b of mask set for node top - b.
  struct Walk {
    std::uint64_t top;
    std::uint32_t mask;
  };
  // How a chain crosses a stretch (see CrossStretch): the blocks of a period
  // below x0, down to the stretch's begin, and where the chain enters each.
  struct StretchPlan {
    std::uint64_t x0;
    std::uint64_t begin;
    std::uint32_t period;
    std::uint32_t firstState;  // into states_
    std::uint32_t count;
    std::uint32_t cycleStart;
    std::uint32_t cycleLength;
  };
  // Emission plan, highest first: the chain's nodes from top down to floor,
  // or (stretch below ~0) those of a StretchPlan.
  struct Record {
    std::uint64_t top;
    std::uint64_t floor;
    std::uint32_t stretch;
  };

  void StepWalk(Walk& walk);
  bool CrossStretch(Walk& walk, std::uint64_t x0, const PendingStore::Piece& piece,
                    bool stopOnMerge, StretchPlan* plan);
  void WalkBelow(Walk& walk, std::uint64_t x, bool stopOnMerge);
  void Check();
  void Plan(std::uint64_t node);
  bool FillTemp();

  // Costs of the nodes up to MaxCopy ahead, and matches of the last
  // positions, by index modulo Ring.
  static constexpr std::uint32_t Ring = 32;
  std::uint64_t cost_[Ring] = {};
  std::uint32_t match_[Ring] = {};
  // The cheapest item into each of the next MaxCopy nodes so far, and the
  // furthest a copy reaches with the cost of the position it is from.
  std::uint32_t code_[Ring] = {};
  std::uint64_t reach_ = 0;
  std::uint64_t reachCost_ = 0;

  PendingStore store_;
  std::uint64_t node_ = 0;     // the last final node: input positions taken
  std::uint64_t emitted_ = 0;  // items up to this node are written
  std::uint64_t nextCheck_ = 0;
  std::uint64_t walkSteps_ = 0;
  bool failed_ = false;
  bool ended_ = false;

  // Emission: the plan, the record being written and its nodes.
  bool emitting_ = false;
  std::uint64_t target_ = 0;
  Buffer<Record> records_;
  std::size_t recordCount_ = 0;
  std::size_t nextRecord_ = 0;  // records not yet written: the lowest last
  Buffer<StretchPlan> plans_;
  std::size_t planCount_ = 0;
  Buffer<std::uint64_t> states_;  // a stretch's (offset << 32 | mask) per block
  std::size_t stateCount_ = 0;
  std::uint64_t block_ = 0;    // blocks of the stretch record still to write
  std::uint32_t stretch_ = 0;  // that record's plan
  bool inStretch_ = false;
  Buffer<std::uint32_t> temp_;  // nodes of one record or block, above tempBase_
  std::uint64_t tempBase_ = 0;
  std::size_t tempLeft_ = 0;
};

}  // namespace lzs
