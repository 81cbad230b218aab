#include "cli/results/alignment.h"

#include <algorithm>
#include <cmath>

namespace {

// A signature with its own level and contrast taken out, so that two decks' pictures of one
// frame come out alike.
void Normalise(const FrameSignature& s, float* z) {
  double sum = 0, squares = 0;
  for (uint8_t v : s.block) sum += v, squares += double(v) * v;
  const double mean = sum / kSignatureBlocks;
  const double spread = std::sqrt(std::max(squares / kSignatureBlocks - mean * mean, 0.0));
  const double scale = 1.0 / std::max(spread, 1.0);  // a flat picture stays flat, not amplified noise
  for (int k = 0; k < kSignatureBlocks; ++k) z[k] = static_cast<float>((s.block[k] - mean) * scale);
}

// ChangeCorrelation from B's position j on.
double Correlate(const Signatures& a, const Signatures& b, int64_t offset, int64_t j, int window) {
  const int64_t na = static_cast<int64_t>(a.size()), nb = static_cast<int64_t>(b.size());
  int64_t dot = 0, aa = 0, bb = 0;
  for (int n = 0; n < window && j + 1 < nb && j + offset + 1 < na; ++n, ++j) {
    const uint8_t* a0 = a[j + offset].block;
    const uint8_t* a1 = a[j + offset + 1].block;
    const uint8_t* b0 = b[j].block;
    const uint8_t* b1 = b[j + 1].block;
    for (int k = 0; k < kSignatureBlocks; ++k) {
      const int da = a1[k] - a0[k], db = b1[k] - b0[k];
      dot += da * db, aa += da * da, bb += db * db;
    }
  }
  return aa > 0 && bb > 0 ? static_cast<double>(dot) / std::sqrt(static_cast<double>(aa) * static_cast<double>(bb)) : 0.0;
}

struct Shift {
  int64_t offset = 0;
  double correlation = -1.0;
};

// The offset (A's position = B's + offset) whose picture changes correlate best, searched from
// positions a0 and b0 on, within `range` of `around` (any where range < 0).
Shift BestOffset(const Signatures& a, const Signatures& b, int64_t a0, int64_t b0, int64_t around, int64_t range,
                 const AlignOptions& o) {
  const int64_t na = static_cast<int64_t>(a.size()), nb = static_cast<int64_t>(b.size());
  // Short overlaps at the far ends would correlate by chance.
  const int64_t need = std::max<int64_t>(2, std::min<int64_t>(o.window / 4, (std::min(na - a0, nb - b0) - 1) / 2));
  Shift best;
  for (int64_t d = a0 - nb + need; d <= na - b0 - need; ++d) {
    if (range >= 0 && std::llabs(d - around) > range) continue;
    const int64_t j = std::max(b0, a0 - d);
    const int64_t pairs = std::min(na - (j + d), nb - j) - 1;
    if (pairs < need) continue;
    const double c = Correlate(a, b, d, j, o.window);
    if (c > best.correlation + 1e-9 || (c > best.correlation - 1e-9 && std::llabs(d - around) < std::llabs(best.offset - around))) {
      best = Shift{d, c};
    }
  }
  return best;
}

// Follows two captures pair by pair from a first pair on, through lost, added and repeated
// frames; where it loses them it searches again nearby.
class Follower {
 public:
  Follower(const Signatures& a, const Signatures& b, const AlignOptions& o, Alignment* r)
      : a_(a), b_(b), o_(o), r_(r), na_(static_cast<int64_t>(a.size())), nb_(static_cast<int64_t>(b.size())) {}
  void Run(int64_t offset);

 private:
  double Cost(int64_t i, int64_t j) const {
    if (i < 0 || j < 0 || i >= na_ || j >= nb_) return INFINITY;
    return SignatureDistance(a_[i], b_[j]);
  }
  // The mean cost of the pairs that follow, each frame of B against the nearest frame of A
  // around the diagonal: confirms a pair without being thrown by frames lost or repeated just
  // after it.
  double Ahead(int64_t i, int64_t j) const {
    double sum = 0;
    int n = 0;
    for (int t = 1; t <= o_.lookahead && i + t < na_ && j + t < nb_; ++t, ++n) {
      double c = INFINITY;
      for (int64_t x = i + t - 1; x <= i + t + o_.maxSkip && x < na_; ++x) c = std::min(c, Cost(x, j + t));
      sum += c;
    }
    return n > 0 ? sum / n : 0.0;
  }
  // Whether frame x of a capture shows its predecessor again: closer to it than to its successor.
  bool Repeats(const Signatures& s, int64_t x) const {
    if (x < 1 || x >= int64_t(s.size())) return false;
    const double back = SignatureDistance(s[x], s[x - 1]);
    return back < same_ && (x + 1 >= int64_t(s.size()) || back < SignatureDistance(s[x + 1], s[x]));
  }
  void SetThreshold(int64_t offset);
  bool Start(int64_t offset, int64_t a0, int64_t b0, AlignedPair* first) const;
  bool Step(AlignedPair* at) const;
  void Accept(const AlignedPair& from, const AlignedPair& to, bool searched = false);
  void AddGap(char input, FrameGap::Kind kind, int64_t position);

  const Signatures& a_;
  const Signatures& b_;
  const AlignOptions& o_;
  Alignment* r_;
  int64_t na_, nb_;
  double accept_ = 0.0;  // a pair costing more is not followed
  double same_ = 0.0;    // two frames of one capture closer than this show one picture
};

// From what the pairs on the offset cost against pairs one and three frames apart: how unlike
// a pair may be and still be followed, and how alike two frames of one capture must be to be
// one picture shown twice.
void Follower::SetThreshold(int64_t offset) {
  std::vector<double> on, near, far;
  for (int64_t j = std::max<int64_t>(0, -offset); j < nb_ && j + offset < na_ && on.size() < size_t(o_.window); ++j) {
    on.push_back(Cost(j + offset, j));
    const double c1 = std::min(Cost(j + offset + 1, j), Cost(j + offset - 1, j));
    const double c3 = std::min(Cost(j + offset + 3, j), Cost(j + offset - 3, j));
    if (std::isfinite(c1)) near.push_back(c1);
    if (std::isfinite(c3)) far.push_back(c3);
  }
  auto median = [](std::vector<double>& v, double otherwise) {
    if (v.empty()) return otherwise;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
  };
  const double m0 = median(on, 0.0), m1 = median(near, m0 + 1.0), m3 = median(far, m1);
  accept_ = std::max((m0 + m3) / 2, 1e-4);
  same_ = std::max((m0 + m1) / 2, 1e-5);
}

// The first pair from positions a0, b0 on near the offset that the pairs after it confirm.
bool Follower::Start(int64_t offset, int64_t a0, int64_t b0, AlignedPair* first) const {
  const int64_t from = std::max(b0, a0 - offset - o_.maxSkip);
  for (int64_t j = from; j < nb_ && j < from + o_.window; ++j) {
    double best = INFINITY;
    for (int64_t i = std::max(a0, j + offset - o_.maxSkip); i <= j + offset + o_.maxSkip && i < na_; ++i) {
      if (Cost(i, j) >= accept_) continue;
      const double score = Cost(i, j) + 0.05 * accept_ * std::llabs(i - (j + offset));
      if (Ahead(i, j) < accept_ && score < best) best = score, *first = AlignedPair{i, j};
    }
    if (!std::isfinite(best)) continue;
    // The first acceptable pair may be a neighbour of the right one: moved on while the next
    // frame of either matches better.
    for (;;) {
      const double c = Cost(first->a, first->b);
      if (Cost(first->a + 1, first->b) < c) ++first->a;
      else if (Cost(first->a, first->b + 1) < c) ++first->b;
      else return true;
    }
  }
  return false;
}

// The next pair after `at`: the next frame of each, or one of them repeated, or frames of
// either skipped, whichever the following pairs confirm best.
bool Follower::Step(AlignedPair* at) const {
  const int64_t i = at->a, j = at->b;
  double best = INFINITY;
  AlignedPair next;
  for (int64_t skipB = 0; skipB <= o_.maxSkip && j + 1 + skipB < nb_; ++skipB) {
    const int64_t jn = j + 1 + skipB;
    for (int64_t in = skipB == 0 ? i : i + 1; in <= i + 1 + o_.maxSkip && in < na_; ++in) {
      const int64_t skips = skipB + std::llabs(in - (i + 1));
      if (0.05 * accept_ * skips >= best || Cost(in, jn) >= accept_) continue;
      if (in == i && !Repeats(b_, jn)) continue;
      const double ahead = Ahead(in, jn);
      const double score = Cost(in, jn) + 0.05 * accept_ * skips;
      // A pair as close as one picture shown twice needs no confirmation: what follows it may be lost.
      if ((ahead < accept_ || Cost(in, jn) < same_) && score < best) best = score, next = AlignedPair{in, jn};
    }
    if (skipB == 0 && next.a == i + 1 && next.b == jn && best < 0.05 * accept_) break;  // a plain step
  }
  if (!std::isfinite(best)) return false;
  *at = next;
  return true;
}

void Follower::AddGap(char input, FrameGap::Kind kind, int64_t position) {
  if (!r_->gaps.empty()) {
    FrameGap& g = r_->gaps.back();
    if (g.input == input && g.kind == kind && g.position + g.frames == position) {
      ++g.frames;
      return;
    }
  }
  r_->gaps.push_back(FrameGap{input, kind, position, 1});
}

// The frames between two pairs: a frame that shows its predecessor again is a repeat, any
// other one the other capture lacks. As many skipped in both is one poor stretch of pairs
// (noise), not a frame lost in each; a jump found by searching again is all lost.
void Follower::Accept(const AlignedPair& from, const AlignedPair& to, bool searched) {
  if (to.a - from.a == to.b - from.b) {
    for (int64_t t = 1; t < to.a - from.a; ++t) r_->pairs.push_back(AlignedPair{from.a + t, from.b + t});
    r_->pairs.push_back(to);
    return;
  }
  if (to.a == from.a) AddGap('B', FrameGap::Repeated, to.b);
  for (int64_t x = from.a + 1; x < to.a; ++x) {
    if (!searched && Repeats(a_, x)) AddGap('A', FrameGap::Repeated, x);
    else AddGap('B', FrameGap::Missing, x);
  }
  for (int64_t y = from.b + 1; y < to.b; ++y) {
    if (!searched && Repeats(b_, y)) AddGap('B', FrameGap::Repeated, y);
    else AddGap('A', FrameGap::Missing, y);
  }
  r_->pairs.push_back(to);
}

void Follower::Run(int64_t offset) {
  SetThreshold(offset);
  AlignedPair at;
  if (!Start(offset, 0, 0, &at)) return;
  r_->pairs.push_back(at);
  for (int resyncs = 0; at.a + 1 < na_ && at.b + 1 < nb_;) {
    AlignedPair next = at;
    if (Step(&next)) {
      Accept(at, next);
      at = next;
      continue;
    }
    // Lost: searched again near where the captures were, a bounded number of times.
    if (++resyncs > 64) break;
    const Shift s = BestOffset(a_, b_, at.a + 1, at.b + 1, at.a - at.b, 15000, o_);
    if (s.correlation < o_.minCorrelation || !Start(s.offset, at.a + 1, at.b + 1, &next)) break;
    Accept(at, next, true);
    at = next;
  }
}

}  // namespace

double SignatureDistance(const FrameSignature& x, const FrameSignature& y) {
  float zx[kSignatureBlocks], zy[kSignatureBlocks];
  Normalise(x, zx);
  Normalise(y, zy);
  double sum = 0;
  // Squares: the few blocks where the picture moves weigh more than the noise of all the others.
  for (int k = 0; k < kSignatureBlocks; ++k) sum += (zx[k] - zy[k]) * (zx[k] - zy[k]);
  return sum / kSignatureBlocks;
}

double Motion(const Signatures& s) {
  if (s.size() < 2) return 0.0;
  double sum[kSignatureBlocks] = {}, squares[kSignatureBlocks] = {};
  for (const FrameSignature& f : s) {
    for (int k = 0; k < kSignatureBlocks; ++k) sum[k] += f.block[k], squares[k] += double(f.block[k]) * f.block[k];
  }
  double most = 0;
  const double n = static_cast<double>(s.size());
  for (int k = 0; k < kSignatureBlocks; ++k) {
    const double mean = sum[k] / n;
    most = std::max(most, std::sqrt(std::max(squares[k] / n - mean * mean, 0.0)));
  }
  return most;
}

double ChangeCorrelation(const Signatures& a, const Signatures& b, int64_t offset, int window) {
  return Correlate(a, b, offset, std::max<int64_t>(0, -offset), window);
}

Alignment Align(const Signatures& a, const Signatures& b, const AlignOptions& o) {
  Alignment r;
  if (a.size() < 2 || b.size() < 2) return r;
  const bool still = Motion(a) < o.stillLevel || Motion(b) < o.stillLevel;
  int64_t offset = 0;
  if (o.offset) {
    offset = *o.offset;
    r.correlation = ChangeCorrelation(a, b, offset, o.window);
  } else if (still) {
    r.status = AlignStatus::NoMotion;
    return r;
  } else {
    const Shift s = BestOffset(a, b, 0, 0, 0, -1, o);
    r.correlation = s.correlation, r.offset = s.offset;
    if (s.correlation < o.minCorrelation) return r;
    offset = s.offset;
  }
  if (still) {
    // Nothing to follow: frame for frame from the offset given.
    for (int64_t j = std::max<int64_t>(0, -offset); j < int64_t(b.size()) && j + offset < int64_t(a.size()); ++j) {
      r.pairs.push_back(AlignedPair{j + offset, j});
    }
  } else {
    Follower(a, b, o, &r).Run(offset);
  }
  if (r.pairs.empty()) return r;
  const AlignedPair &first = r.pairs.front(), &last = r.pairs.back();
  r.offset = first.a - first.b;
  r.aLead = first.a, r.bLead = first.b;
  r.aTail = int64_t(a.size()) - 1 - last.a, r.bTail = int64_t(b.size()) - 1 - last.b;
  r.status = AlignStatus::Aligned;
  return r;
}
