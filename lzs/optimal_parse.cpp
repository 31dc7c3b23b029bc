#include "lzs/optimal_parse.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "lzs/match_tree.hpp"

namespace lzs {
namespace {

constexpr std::uint64_t LiteralBits = 9;
constexpr std::uint64_t ReferenceBits = 17;

// A stretch is made once this many entries (and a whole period) in a row
// equal the entries one period before.
constexpr std::uint64_t MinStretchRun = 4096;
// The period of the entries in a repeat of period p is a multiple of p (the
// bytes) and of MaxCopy (the cheapest paths take a whole copy of MaxCopy
// bytes per MaxCopy bytes): their least common multiple. The candidate p is
// the farthest distance among the entries of the last few thousand nodes.
constexpr std::uint64_t FarthestKept = 2 * MinStretchRun;

std::uint32_t EntryPeriod(std::uint32_t distance) {
  std::uint32_t a = distance;
  std::uint32_t b = MaxCopy;
  while (b != 0) {
    const std::uint32_t r = a % b;
    a = b;
    b = r;
  }
  return distance / a * MaxCopy;
}

constexpr std::size_t MinArena = 4096;
// The first nodes above the last emitted one are checked for agreement this
// often at least.
constexpr std::uint64_t MinCheckInterval = 1024;
// An explicit record of the emission plan covers at most this many nodes.
constexpr std::uint64_t MaxRunNodes = std::uint64_t{1} << 16;
// Stretches are crossed a period at a time when they hold at least this many
// periods above the walk.
constexpr std::uint64_t JumpPeriods = 4;
// States of a stretch crossing kept while looking for a repeat; a single
// chain has at most MaxCopy states, so it always finds one.
constexpr std::uint32_t MaxStates = 64;
constexpr std::uint32_t NoStretch = ~std::uint32_t{0};

template <typename T>
bool Push(Buffer<T>& buffer, std::size_t& count, const T& value) {
  if (count == buffer.size() && !buffer.Resize(std::max<std::size_t>(16, 2 * count))) return false;
  buffer[count++] = value;
  return true;
}

}  // namespace

void PendingStore::Reset(std::uint64_t first, std::size_t limitBytes) {
  arenaUsed_ = 0;
  pieceBegin_ = 0;
  pieceEnd_ = 0;
  cached_ = 0;
  next_ = first;
  limit_ = limitBytes;
  stretchPhase_ = 0;
  farthestSince_ = first;
  StopLooking();
}

bool PendingStore::NewPiece(const Piece& piece) {
  if (pieceEnd_ == pieces_.size()) {
    if (pieceBegin_ > pieceEnd_ / 2) {
      std::memmove(pieces_.data(), pieces_.data() + pieceBegin_,
                   (pieceEnd_ - pieceBegin_) * sizeof(Piece));
      pieceEnd_ -= pieceBegin_;
      pieceBegin_ = 0;
      cached_ = 0;
    } else if (!pieces_.Resize(std::max<std::size_t>(16, 2 * pieces_.size()))) {
      return false;
    }
  }
  pieces_[pieceEnd_++] = piece;
  return true;
}

// Moves the entries still needed to the front of the arena.
void PendingStore::Compact() {
  if (pieceBegin_ == pieceEnd_) {
    arenaUsed_ = 0;
    return;
  }
  const std::size_t start = pieces_[pieceBegin_].offset;
  if (start == 0) return;
  std::memmove(arena_.data(), arena_.data() + start, (arenaUsed_ - start) * sizeof(std::uint32_t));
  for (std::size_t k = pieceBegin_; k < pieceEnd_; ++k) pieces_[k].offset -= start;
  arenaUsed_ -= start;
}

// Besides writing the entry: extends the open stretch, starts a piece, grows
// the arena, and looks for a period once the last piece holds TrackAfter
// nodes.
bool PendingStore::Append(std::uint32_t entry) {
  const std::uint64_t node = next_;
  const bool open = pieceEnd_ > pieceBegin_;
  if (open && Last().period != 0) {
    Piece& stretch = Last();
    if (entry == arena_[stretch.offset + stretchPhase_]) {
      ++stretch.end;
      ++next_;
      if (++stretchPhase_ == stretch.period) stretchPhase_ = 0;
      return true;
    }
  }
  if (!open || Last().period != 0) {
    if (!NewPiece({node, node, node, 0, arenaUsed_})) return false;
    StopLooking();
  }
  if (arenaUsed_ == arena_.size()) {
    Compact();
    if (arenaUsed_ == arena_.size() || arenaUsed_ > arena_.size() / 2) {
      std::size_t grown = std::max(MinArena, 2 * arena_.size());
      if (limit_ != 0) grown = std::min(grown, limit_ / sizeof(std::uint32_t));
      if (grown <= arenaUsed_ || !arena_.Resize(grown)) return false;
    }
  }
  Piece& piece = Last();
  arena_[arenaUsed_++] = entry;
  ++piece.end;
  ++next_;
  if (node - piece.begin < TrackAfter) return true;

  const std::uint32_t code = entry & 0xFFFF;
  if (code != 0) {
    const std::uint32_t distance = CodeDistance(code);
    if (distance >= farthest_ || node - farthestSince_ > FarthestKept) {
      farthest_ = distance;
      farthestSince_ = node;
    }
  }
  if (farthest_ != periodOf_) {
    periodOf_ = farthest_;
    period_ = EntryPeriod(farthest_);
    run_ = 0;
  }
  if (period_ != 0 && node - piece.begin >= period_ && entry == arena_[arenaUsed_ - 1 - period_]) {
    if (++run_ >= std::max<std::uint64_t>(period_, MinStretchRun)) MakeStretch(node);
  } else {
    run_ = 0;
  }
  return true;
}

void PendingStore::StopLooking() {
  run_ = 0;
  farthest_ = 0;
  periodOf_ = 0;
  period_ = 0;
}

// The entries of the last run_ nodes up to `node` equal those a period
// before: from one period before the first of them on, the piece becomes a
// stretch that keeps one period.
void PendingStore::MakeStretch(std::uint64_t node) {
  const Piece piece = Last();
  const std::uint64_t begin = node + 1 - run_ - period_;
  const std::size_t base = piece.offset + (begin - piece.begin);
  const Piece stretch{begin, node + 1, begin, period_, base};
  if (begin == piece.begin) {
    Last() = stretch;
  } else {
    Last().end = begin;
    if (!NewPiece(stretch)) {
      Last().end = node + 1;  // stays explicit
      run_ = 0;
      return;
    }
  }
  arenaUsed_ = base + period_;
  stretchPhase_ = static_cast<std::uint32_t>((node + 1 - begin) % period_);
  run_ = 0;
}

const PendingStore::Piece& PendingStore::PieceOf(std::uint64_t node) {
  std::size_t k = cached_;
  if (k < pieceBegin_ || k >= pieceEnd_) k = pieceEnd_ - 1;
  while (node < pieces_[k].begin) --k;
  while (node >= pieces_[k].end) ++k;
  cached_ = k;
  return pieces_[k];
}

std::uint32_t PendingStore::At(std::uint64_t node) {
  const Piece& last = pieces_[pieceEnd_ - 1];
  if (node >= last.begin && last.period == 0) return arena_[last.offset + (node - last.begin)];
  const Piece& piece = PieceOf(node);
  if (piece.period == 0) return arena_[piece.offset + (node - piece.begin)];
  return arena_[piece.offset + (node - piece.phase) % piece.period];
}

void PendingStore::DropBefore(std::uint64_t node) {
  while (pieceBegin_ < pieceEnd_ && pieces_[pieceBegin_].end <= node) ++pieceBegin_;
  if (pieceBegin_ == pieceEnd_) {
    pieceBegin_ = 0;
    pieceEnd_ = 0;
    arenaUsed_ = 0;
    StopLooking();
    return;
  }
  Piece& first = pieces_[pieceBegin_];
  if (first.begin < node) {
    if (first.period == 0) first.offset += node - first.begin;
    first.begin = node;
    if (pieceBegin_ + 1 == pieceEnd_) StopLooking();
  }
  if (first.offset >= MinArena && first.offset > arenaUsed_ / 2) Compact();
}

std::size_t PendingStore::Bytes() const {
  return arena_.capacity() * sizeof(std::uint32_t) + pieces_.capacity() * sizeof(Piece);
}

bool OptimalParse::Start(std::size_t limitBytes) {
  std::fill_n(cost_, Ring, ~std::uint64_t{0});
  std::fill_n(match_, Ring, 0u);
  std::fill_n(code_, Ring, 0u);
  cost_[0] = 0;
  reach_ = 0;
  reachCost_ = 0;
  store_.Reset(1, limitBytes);
  node_ = 0;
  emitted_ = 0;
  nextCheck_ = MinCheckInterval;
  failed_ = false;
  ended_ = false;
  emitting_ = false;
  return temp_.Resize(MaxRunNodes);
}

std::size_t OptimalParse::Bytes() const {
  return store_.Bytes() + records_.capacity() * sizeof(Record) +
         plans_.capacity() * sizeof(StretchPlan) + states_.capacity() * sizeof(std::uint64_t) +
         temp_.capacity() * sizeof(std::uint32_t);
}

std::size_t OptimalParse::Steps(const MatchCode* matches, const std::uint8_t* bytes,
                                std::size_t count) {
  std::size_t k = 0;
  while (k < count && !emitting_ && !failed_) {
    // Up to the next check, with the state in locals.
    const std::size_t stop =
        static_cast<std::size_t>(std::min<std::uint64_t>(count - k, nextCheck_ - node_)) + k;
    std::uint64_t* const costs = cost_;
    std::uint32_t* const codes = code_;
    std::uint32_t* const ring = match_;
    std::uint64_t reach = reach_;
    std::uint64_t reachCost = reachCost_;
    std::uint64_t i = node_;
    const std::size_t first = k;
    std::size_t room = 0;
    std::uint32_t* out = store_.Room(room);
    std::size_t written = 0;
    for (; k < stop; ++k, ++i) {
      const std::uint32_t match = matches[k];
      ring[i % Ring] = match;
      costs[(i + MaxCopy) % Ring] = ~std::uint64_t{0};
      const std::uint64_t here = costs[i % Ring];
      if (here + LiteralBits < costs[(i + 1) % Ring]) {
        costs[(i + 1) % Ring] = here + LiteralBits;
        codes[(i + 1) % Ring] = 0;
      }
      if (match != 0) {
        const std::uint32_t longest = CodeLength(match);
        // Lengths up to the furthest reach so far are no gain when the
        // position that reached it was no dearer.
        std::uint32_t shortest = MinCopy;
        if (reachCost <= here && reach > i + MinCopy) {
          shortest = static_cast<std::uint32_t>(reach - i) + 1;
        }
        if (i + longest >= reach) {
          reach = i + longest;
          reachCost = here;
        }
        const std::uint64_t copy = here + ReferenceBits;
        const std::uint32_t base = match & ~0x0Fu;
        for (std::uint32_t length = shortest; length <= longest; ++length) {
          std::uint64_t& there = costs[(i + length) % Ring];
          if (copy < there) {
            there = copy;
            codes[(i + length) % Ring] = base | (length - MinCopy);
          }
        }
      }
      // Node i + 1 is final now.
      const std::uint32_t entry = codes[(i + 1) % Ring] | std::uint32_t{bytes[k]} << 16;
      if (room != 0) {
        *out++ = entry;
        --room;
        ++written;
        continue;
      }
      store_.Commit(written);
      written = 0;
      if (!store_.Append(entry)) {
        failed_ = true;
        ++k;
        break;
      }
      out = store_.Room(room);
    }
    store_.Commit(written);
    reach_ = reach;
    reachCost_ = reachCost;
    node_ += k - first;
    if (node_ >= nextCheck_ && !failed_) Check();
  }
  return k;
}

void OptimalParse::StepWalk(Walk& walk) {
  ++walkSteps_;
  const std::uint32_t length = CodeLength(store_.At(walk.top) & 0xFFFF);
  const std::uint32_t mask = (walk.mask & ~1u) | 1u << length;
  const int shift = std::countr_zero(mask);
  walk.top -= static_cast<std::uint64_t>(shift);
  walk.mask = mask >> shift;
}

void OptimalParse::WalkBelow(Walk& walk, std::uint64_t x, bool stopOnMerge) {
  while (walk.top >= x && !(stopOnMerge && walk.mask == 1)) StepWalk(walk);
}

// Takes a walk that is just below x0 (x0 - MaxCopy <= walk.top < x0, where
// x0 is the stretch's begin plus a multiple of its period) to just below the
// stretch's begin, a period at a time: block j holds the nodes of
// [x0 - (j + 1) period, x0 - j period). The chains' nodes in a block depend
// only on where they enter it (its entries are those of every other block),
// so once the walk enters a block as it entered an earlier one, the blocks
// below repeat that cycle and are skipped to the last. With stopOnMerge,
// stops where the chains meet (and returns false then, or when no repeat was
// found: the walk went on node by node). With a plan, notes how the walk
// enters every block: the states up to the repeat, and the cycle.
bool OptimalParse::CrossStretch(Walk& walk, std::uint64_t x0, const PendingStore::Piece& piece,
                                bool stopOnMerge, StretchPlan* plan) {
  const std::uint64_t begin = piece.begin;
  const std::uint64_t period = piece.period;
  std::uint64_t states[MaxStates];
  std::uint32_t count = 0;
  std::uint32_t cycleStart = 0;
  std::uint32_t cycleLength = 1;
  for (std::uint64_t x = x0;; x -= period) {
    const std::uint64_t state = (x - walk.top) << 32 | walk.mask;
    if (x == begin) {
      states[count++] = state;
      break;
    }
    std::uint32_t repeat = 0;
    while (repeat < count && states[repeat] != state) ++repeat;
    if (repeat < count) {
      cycleStart = repeat;
      cycleLength = count - repeat;
      // The state at begin, `left` blocks further down the cycle.
      const std::uint64_t left = (x - begin) / period;
      const std::uint64_t at = cycleStart + (count + left - cycleStart) % cycleLength;
      walk.top = begin - (states[at] >> 32);
      walk.mask = static_cast<std::uint32_t>(states[at]);
      break;
    }
    if (count == MaxStates) {
      WalkBelow(walk, begin, stopOnMerge);
      return false;
    }
    states[count++] = state;
    WalkBelow(walk, x - period, stopOnMerge);
    if (stopOnMerge && walk.mask == 1) return false;
  }
  if (plan != nullptr) {
    *plan = {x0,
             begin,
             static_cast<std::uint32_t>(period),
             static_cast<std::uint32_t>(stateCount_),
             count,
             cycleStart,
             cycleLength};
    for (std::uint32_t k = 0; k < count; ++k) {
      if (!Push(states_, stateCount_, states[k])) failed_ = true;
    }
  }
  return true;
}

// Looks for the node where the chains from the last node and from every node
// whose match reaches past it meet; items up to there are final.
void OptimalParse::Check() {
  const std::uint64_t k = node_;
  std::uint32_t mask = 1;
  for (std::uint32_t b = 1; b < MaxCopy && b <= k; ++b) {
    const std::uint32_t match = match_[(k - b) % Ring];
    if (match != 0 && CodeLength(match) > b) mask |= 1u << b;
  }
  Walk walk{k, mask};
  walkSteps_ = 0;
  while (walk.mask != 1 && walk.top > emitted_) {
    if (store_.InLastExplicit(walk.top)) {
      StepWalk(walk);
      continue;
    }
    const PendingStore::Piece piece = store_.PieceOf(walk.top);
    if (piece.period != 0 && walk.top - piece.begin >= JumpPeriods * piece.period) {
      const std::uint64_t x0 = piece.begin + (walk.top - piece.begin) / piece.period * piece.period;
      WalkBelow(walk, x0, true);
      if (walk.mask != 1) CrossStretch(walk, x0, piece, true, nullptr);
      continue;
    }
    StepWalk(walk);
  }
  nextCheck_ = k + std::max(MinCheckInterval, walkSteps_ / 2);
  if (walk.top > emitted_) Plan(walk.top);
}

// Plans the emission of the chain from `node` down to the last emitted node:
// records from the top down, which Emit writes from the last up.
void OptimalParse::Plan(std::uint64_t node) {
  target_ = node;
  recordCount_ = 0;
  planCount_ = 0;
  stateCount_ = 0;
  Walk walk{node, 1};
  while (walk.top > emitted_) {
    const PendingStore::Piece piece = store_.PieceOf(walk.top);
    if (piece.period != 0 && walk.top - piece.begin >= JumpPeriods * piece.period) {
      const std::uint64_t x0 = piece.begin + (walk.top - piece.begin) / piece.period * piece.period;
      if (!Push(records_, recordCount_, Record{walk.top, x0, NoStretch})) failed_ = true;
      WalkBelow(walk, x0, false);
      // A single chain enters a block in one of MaxCopy ways, so it repeats
      // within MaxStates blocks.
      StretchPlan plan{};
      if (!CrossStretch(walk, x0, piece, false, &plan) || !Push(plans_, planCount_, plan) ||
          !Push(records_, recordCount_, Record{0, 0, static_cast<std::uint32_t>(planCount_ - 1)})) {
        failed_ = true;
      }
      continue;
    }
    std::uint64_t floor = std::max(piece.begin, emitted_ + 1);
    if (walk.top - floor >= MaxRunNodes) floor = walk.top - MaxRunNodes + 1;
    if (!Push(records_, recordCount_, Record{walk.top, floor, NoStretch})) failed_ = true;
    WalkBelow(walk, floor, false);
  }
  nextRecord_ = recordCount_;
  inStretch_ = false;
  tempLeft_ = 0;
  emitting_ = !failed_;
}

void OptimalParse::End() {
  ended_ = true;
  if (node_ > emitted_) Plan(node_);
}

// Fills temp_ with the chain's nodes of the next record (or stretch block)
// up, highest first; false when the plan is done.
bool OptimalParse::FillTemp() {
  std::uint64_t top = 0;
  std::uint64_t floor = 0;
  for (;;) {
    if (!inStretch_) {
      if (nextRecord_ == 0) return false;
      const Record& record = records_[--nextRecord_];
      if (record.stretch == NoStretch) {
        top = record.top;
        floor = record.floor;
        break;
      }
      inStretch_ = true;
      stretch_ = record.stretch;
      const StretchPlan& plan = plans_[stretch_];
      block_ = (plan.x0 - plan.begin) / plan.period;
    }
    const StretchPlan& plan = plans_[stretch_];
    if (block_ == 0) {
      inStretch_ = false;
      continue;
    }
    const std::uint64_t j = --block_;
    const std::uint64_t index =
        j < plan.count ? j : plan.cycleStart + (j - plan.cycleStart) % plan.cycleLength;
    const std::uint64_t state = states_[plan.firstState + index];
    top = plan.x0 - j * plan.period - (state >> 32);
    floor = plan.x0 - (j + 1) * plan.period;
    break;
  }
  if (top - floor + 1 > temp_.size() && !temp_.Resize(top - floor + 1)) {
    failed_ = true;
    return false;
  }
  std::size_t n = 0;
  for (std::uint64_t at = top; at >= floor; at -= CodeLength(store_.At(at) & 0xFFFF)) {
    temp_[n++] = static_cast<std::uint32_t>(at - floor);
  }
  tempBase_ = floor;
  tempLeft_ = n;
  return true;
}

void OptimalParse::Emit(ItemWriter& writer) {
  while (emitting_) {
    if (tempLeft_ == 0 && !FillTemp()) {
      if (failed_) return;
      emitting_ = false;
      emitted_ = target_;
      store_.DropBefore(target_ + 1);
      return;
    }
    while (tempLeft_ > 0) {
      if (!writer.HasRoom(1)) return;
      const std::uint64_t node = tempBase_ + temp_[--tempLeft_];
      const std::uint32_t entry = store_.At(node);
      const std::uint32_t code = entry & 0xFFFF;
      if (code == 0) {
        writer.Literal(static_cast<std::uint8_t>(entry >> 16));
      } else {
        const std::uint32_t length = CodeLength(code);
        writer.Copy(node - length, CodeDistance(code), length);
      }
    }
  }
}

}  // namespace lzs
