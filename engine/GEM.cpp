#include "engine/GEM.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "engine/Threads.h"

namespace {

const char kGrayscaleFailed[] = "GEM: Grayscale_Image(): FATAL ERROR! Unable to spawn thread!";
const char kEdgeFailed[] = "GEM: Edge_Detect(): FATAL ERROR! Unable to spawn thread!";
const char kEnergyFailed[] = "GEM: Energy_Path(): FATAL ERROR! Unable to spawn thread!";
const char kAddWeightsFailed[] = "GEM: Add_Weights(): FATAL ERROR! Unable to spawn thread!";
const char kAddPathFailed[] = "GEM: Add_Path(): FATAL ERROR! Unable to spawn thread!";
const char kRemovePathFailed[] = "GEM: Remove_Path(): FATAL ERROR! Unable to spawn thread!";

constexpr int kBands = 4;

// 32-bit arithmetic that wraps around, as the cost sums and weights do.
inline int32_t Wrap(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t Min(int32_t a, int32_t b) { return a < b ? a : b; }
inline int32_t Max(int32_t a, int32_t b) { return a > b ? a : b; }
inline int32_t Abs(int32_t a) { return a < 0 ? -a : a; }

struct TBand {
  int32_t First;
  int32_t End;
};

TBand RowBand(int i, int32_t height, int32_t c) {
  return {i * c, i == kBands - 1 ? height : i * c + c};
}

// Starts one worker per block; returns false (after the message) when one
// cannot be started. The group waits for every started worker in any case.
template <typename Block>
bool StartAll(TWorkerGroup& group, unsigned (*proc)(void*), Block (&blocks)[kBands]) {
  for (auto& b : blocks)
    if (!group.Start(proc, &b)) return false;
  return true;
}

// ---------------------------------------------------------------- grey and edges

struct TGrayBlock {
  const GML_Color* Source;
  GML_Gray* G;
  int32_t First, End;
};

unsigned GrayWorker(void* p) {
  auto& b = *static_cast<TGrayBlock*>(p);
  const int32_t w = b.Source->Width;
  for (int32_t y = b.First; y < b.End; ++y) {
    const GML_RGBA* s = b.Source->Row(y);
    uint8_t* g = b.G->Row(y);
    for (int32_t x = 0; x < w; ++x) g[x] = Pixel_Gray(s[x]);
  }
  return 0;
}

template <bool Fast>
inline int32_t EdgeAt(const GML_Gray& G, int32_t x, int32_t y, uint8_t f) {
  int32_t xl = x - 1, xr = x + 1, yu = y - 1, yd = y + 1;
  if (!Fast) {
    const int32_t w1 = G.Width - 1, h1 = G.Height - 1;
    xl = xl < 0 ? 0 : (xl > w1 ? w1 : xl);
    xr = xr < 0 ? 0 : (xr > w1 ? w1 : xr);
    yu = yu < 0 ? 0 : (yu > h1 ? h1 : yu);
    yd = yd < 0 ? 0 : (yd > h1 ? h1 : yd);
    x = x < 0 ? 0 : (x > w1 ? w1 : x);
    y = y < 0 ? 0 : (y > h1 ? h1 : y);
  }
  const uint8_t* ru = G.Row(yu);
  const uint8_t* rc = G.Row(y);
  const uint8_t* rd = G.Row(yd);
  switch (f) {
    case FILTER_PREWITT: {
      int32_t gx = ru[xr] + rc[xr] + rd[xr] - ru[xl] - rc[xl] - rd[xl];
      int32_t gy = rd[xl] + rd[x] + rd[xr] - ru[xl] - ru[x] - ru[xr];
      return Abs(gx) + Abs(gy);
    }
    case FILTER_V1:
      return Abs(ru[xr] + rc[xr] + rd[xr] - ru[xl] - rc[xl] - rd[xl]);
    case FILTER_V_SQUARE: {
      int32_t gx = ru[xr] + rc[xr] + rd[xr] - ru[xl] - rc[xl] - rd[xl];
      return gx * gx;
    }
    case FILTER_SOBEL: {
      int32_t sx = ru[xr] + 2 * rc[xr] + rd[xr] - ru[xl] - 2 * rc[xl] - rd[xl];
      int32_t sy = rd[xl] + 2 * rd[x] + rd[xr] - ru[xl] - 2 * ru[x] - ru[xr];
      return Abs(sx) + Abs(sy);
    }
    case FILTER_LAPLACIAN:
      return Abs(rc[xr] + rc[xl] + rd[x] + ru[x] - 4 * rc[x]);
    default:
      return 0;
  }
}

struct TEdgeBlock {
  const GML_Gray* G;
  GML_Int* E;
  int32_t First, End;
  uint8_t Filter;
};

unsigned EdgeWorker(void* p) {
  auto& b = *static_cast<TEdgeBlock*>(p);
  const int32_t w = b.G->Width;
  for (int32_t y = b.First; y < b.End; ++y) {
    int32_t* e = b.E->Row(y);
    e[0] = EdgeAt<false>(*b.G, 0, y, b.Filter);
    for (int32_t x = 1; x < w - 1; ++x) e[x] = EdgeAt<true>(*b.G, x, y, b.Filter);
    e[w - 1] = EdgeAt<false>(*b.G, w - 1, y, b.Filter);
  }
  return 0;
}

// ---------------------------------------------------------------- cost map

// Row-done flags of one worker. Rows are marked in order, so "row y is done"
// is "more than y rows are done".
struct alignas(64) TRowSignals {
  std::atomic<int32_t> Done{0};

  void MarkDone(int32_t y) { Done.store(y + 1, std::memory_order_release); }
  // Returns the number of rows found done, more than y. The other worker is
  // normally less than a row behind, so spin briefly; then yield, since the
  // system may have put both workers on one processor; past a millisecond
  // poll with short sleeps.
  int32_t WaitDone(int32_t y) const {
    int32_t done;
    for (int spin = 0; spin < 64; ++spin) {
      if ((done = Done.load(std::memory_order_acquire)) > y) return done;
      __builtin_ia32_pause();
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1);
    for (unsigned spin = 1;; ++spin) {
      if ((done = Done.load(std::memory_order_acquire)) > y) return done;
      std::this_thread::yield();
      if ((spin & 15) == 0 && std::chrono::steady_clock::now() > until) break;
    }
    while ((done = Done.load(std::memory_order_acquire)) <= y)
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    return done;
  }
};

// The other worker's row signals as one worker sees them. It remembers how
// far the other was found to be, so that while the other is ahead a row costs
// no look at the cache line that the other keeps writing.
struct TNeighbourRows {
  const TRowSignals* Signals;
  int32_t Seen = 0;

  void WaitDone(int32_t y) {
    if (Seen <= y) Seen = Signals->WaitDone(y);
  }
};

struct Energy_Params {
  TRowSignals* Own;
  TRowSignals* Neighbour;
  TLock* Lock;
  TCondition* Condition;
  os::Semaphore* Gate;
  const GML_Int* E;
  const GML_Int* S;
  GML_Int* M;
  int32_t FirstColumn;
  int32_t LastColumn;
  bool ForwardEnergy;
  const PAPixel* PreviousSeam;
  // With a previous seam the right worker only repairs its columns
  // (RepairRightColumns); the left worker does not look at this.
  bool Repair;
  // Bookkeeping of the start: the ready count (under Lock), whether the
  // worker is the left one, and whether the call was abandoned.
  int32_t* Ready;
  bool Left;
  const std::atomic<bool>* Abort;
};

// The rows of the cost rule that one column needs.
struct TCostRows {
  const int32_t* U;   // M, row y - 1
  const int32_t* E;   // E, row y
  const int32_t* EU;  // E, row y - 1
  const int32_t* S;   // S, row y
  int32_t W;
};

inline int32_t CostAt(const TCostRows& r, int32_t x, bool forward) {
  if (r.W == 1) return Wrap(Wrap(r.U[0], r.E[0]), r.S[0]);
  if (x == 0) return Wrap(Wrap(Min(r.U[0], r.U[1]), r.E[0]), r.S[0]);
  if (x == r.W - 1) return Wrap(Wrap(Min(r.U[x], r.U[x - 1]), r.E[x]), r.S[x]);
  if (!forward) return Wrap(Wrap(Min(Min(r.U[x - 1], r.U[x]), r.U[x + 1]), r.E[x]), r.S[x]);
  int32_t cu = Abs(r.E[x + 1] - r.E[x - 1]);
  int32_t cl = cu + Abs(r.EU[x] - r.E[x - 1]);
  int32_t cr = cu + Abs(r.EU[x] - r.E[x + 1]);
  return Wrap(Min(Min(Wrap(r.U[x - 1], cl), Wrap(r.U[x], cu)), Wrap(r.U[x + 1], cr)), r.S[x]);
}

// Columns a..b of one row, written into m. The interior loop is the hot loop
// of the whole carve: plain arrays, no calls, so that it vectorises.
void CostRange(const TCostRows& r, int32_t* __restrict m, int32_t a, int32_t b, bool forward) {
  if (a > b) return;
  if (a == 0) {
    m[0] = CostAt(r, 0, forward);
    ++a;
  }
  const bool last = b == r.W - 1 && b >= a;
  if (last) --b;
  const int32_t* __restrict u = r.U;
  const int32_t* __restrict e = r.E;
  const int32_t* __restrict eu = r.EU;
  const int32_t* __restrict s = r.S;
  if (forward) {
    for (int32_t x = a; x <= b; ++x) {
      int32_t el = e[x - 1], er = e[x + 1], up = eu[x];
      int32_t cu = Abs(er - el);
      int32_t cl = cu + Abs(up - el);
      int32_t cr = cu + Abs(up - er);
      int32_t v = Min(Min(Wrap(u[x - 1], cl), Wrap(u[x], cu)), Wrap(u[x + 1], cr));
      m[x] = Wrap(v, s[x]);
    }
  } else {
    for (int32_t x = a; x <= b; ++x) m[x] = Wrap(Wrap(Min(Min(u[x - 1], u[x]), u[x + 1]), e[x]), s[x]);
  }
  if (last) m[b + 1] = CostAt(r, b + 1, forward);
}

// Rows lie far apart in memory and the windows of the cost map cover a few
// columns of each: fetch the next row's cache lines while this row is worked on.
void PrefetchColumns(const GML_Int& M, const GML_Int& E, const GML_Int& S, int32_t y, int32_t a, int32_t b) {
  a = Max(a, 0);
  b = Min(b, M.Width - 1);
  for (int32_t x = a & ~15; x <= b; x += 16) {
    __builtin_prefetch(M.Row(y) + x);
    __builtin_prefetch(E.Row(y) + x);
    __builtin_prefetch(S.Row(y) + x);
  }
}

// The right worker's columns when M there is still the exact map of the
// previous search, moved with the picture's columns, and E and S have changed
// since only within a few columns of the previous seam (as a removal or an
// insertion leaves them). A cell can then only come out different from the
// value it holds when one of its inputs differs: a changed value among its
// upper neighbours, E or S near the seam, or the left worker's column above
// its first column. Only those cells are recomputed, which gives what
// recomputing every cell gives.
void RepairRightColumns(Energy_Params& b) {
  const GML_Int& E = *b.E;
  const GML_Int& S = *b.S;
  GML_Int& M = *b.M;
  const PAPixel& seam = *b.PreviousSeam;
  const int32_t H = M.Height, F = b.FirstColumn, L = b.LastColumn;
  // Columns of a row that the seam's changes reach: a removal or insertion
  // repairs E up to three columns from the seam, a cell reads E one column to
  // each side and in the row above, and a seam moves at most one column per row.
  constexpr int32_t kReach = 4;
  struct TRun {
    int32_t First, Last;
  };
  std::vector<TRun> changed, todo, next;
  changed.reserve(64);
  todo.reserve(64);
  next.reserve(64);
  std::vector<int32_t> before(static_cast<size_t>(L - F + 1));
  TNeighbourRows neighbour{b.Neighbour};

  for (int32_t y = 0; y < H; ++y) {
    todo.clear();
    todo.push_back({F, F});
    todo.push_back({seam[y].x - kReach, seam[y].x + kReach});
    for (const TRun& r : changed) todo.push_back({r.First - 1, r.Last + 1});
    std::sort(todo.begin(), todo.end(), [](const TRun& a, const TRun& c) { return a.First < c.First; });

    int32_t* m = M.Row(y);
    const TCostRows r{y > 0 ? M.Row(y - 1) : nullptr, E.Row(y), y > 0 ? E.Row(y - 1) : nullptr, S.Row(y), M.Width};
    if (y > 0) neighbour.WaitDone(y - 1);  // column F reads the left worker's last column
    next.clear();
    int32_t done = F - 1;  // columns up to here are handled in this row
    for (const TRun& t : todo) {
      const int32_t a = Max(t.First, done + 1), z = Min(t.Last, L);
      if (a > z) continue;
      done = z;
      std::copy(m + a, m + z + 1, before.begin());
      if (y > 0)
        CostRange(r, m, a, z, b.ForwardEnergy);
      else
        for (int32_t x = a; x <= z; ++x) m[x] = Wrap(r.E[x], r.S[x]);
      for (int32_t x = a; x <= z; ++x) {
        if (m[x] == before[static_cast<size_t>(x - a)]) continue;
        if (!next.empty() && next.back().Last == x - 1)
          next.back().Last = x;
        else
          next.push_back({x, x});
      }
      if (y + 1 < H) PrefetchColumns(M, E, S, y + 1, a - 1, z + 1);
    }
    changed.swap(next);
    b.Own->MarkDone(y);
  }
}

unsigned EnergyWorker(void* p) {
  auto& b = *static_cast<Energy_Params*>(p);
  const GML_Int& E = *b.E;
  const GML_Int& S = *b.S;
  GML_Int& M = *b.M;
  const int32_t W = M.Width, H = M.Height;
  const int32_t F = b.FirstColumn, L = b.LastColumn;
  const PAPixel* seam = b.Left ? b.PreviousSeam : nullptr;

  int32_t lo = F, hi = L;
  if (seam) {
    lo = Max(F, (*seam)[0].x - 3);
    hi = Min(L, (*seam)[0].x + 2);
  }

  b.Own->Done.store(0, std::memory_order_relaxed);
  b.Lock->Enter();
  ++*b.Ready;
  b.Condition->Signal();
  b.Lock->Leave();

  b.Gate->Wait();
  if (b.Abort->load()) return 0;
  if (!b.Left && b.Repair && b.PreviousSeam && F <= L) {
    RepairRightColumns(b);
    return 0;
  }

  {
    const int32_t* e = E.Row(0);
    const int32_t* s = S.Row(0);
    int32_t* m = M.Row(0);
    for (int32_t x = lo; x <= hi; ++x) m[x] = Wrap(e[x], s[x]);
  }
  b.Own->MarkDone(0);

  TNeighbourRows neighbour{b.Neighbour};
  // The column whose upper neighbours include one of the other worker's.
  const int32_t waitColumn = b.Left ? (L + 1 <= W - 1 ? L : -1) : F;

  for (int32_t y = 1; y < H; ++y) {
    lo = Max(F, lo - 1);
    hi = Min(L, hi + 1);
    const int32_t lo0 = lo, hi0 = hi;
    const TCostRows r{M.Row(y - 1), E.Row(y), E.Row(y - 1), S.Row(y), W};
    int32_t* m = M.Row(y);

    if (lo0 <= hi0) {
      if (!seam) {
        if (waitColumn == lo0) {
          neighbour.WaitDone(y - 1);
          CostRange(r, m, lo0, hi0, b.ForwardEnergy);
        } else if (waitColumn == hi0) {
          CostRange(r, m, lo0, hi0 - 1, b.ForwardEnergy);
          neighbour.WaitDone(y - 1);
          CostRange(r, m, hi0, hi0, b.ForwardEnergy);
        } else {
          CostRange(r, m, lo0, hi0, b.ForwardEnergy);
        }
      } else {
        // The window's ends stop widening where the values come out as before;
        // the tests use lo and hi as they stood when the row started.
        const int32_t sx = (*seam)[y].x;
        auto edge = [&](int32_t x) {
          if (x == waitColumn) neighbour.WaitDone(y - 1);
          int32_t g = CostAt(r, x, b.ForwardEnergy);
          if (g == m[x]) {
            if (x == lo0 && lo0 + 3 < sx) lo = lo + 1;
            if (x == hi0 && sx < hi0 - 2) hi = hi - 1;
          } else {
            m[x] = g;
          }
        };
        edge(lo0);
        if (hi0 > lo0) {
          // Inside the window an unchanged value needs no test: writing it again changes nothing.
          CostRange(r, m, lo0 + 1, hi0 - 1, b.ForwardEnergy);
          edge(hi0);
        }
        if (y + 1 < H) PrefetchColumns(M, E, S, y + 1, lo - 1, hi + 1);
      }
    }
    b.Own->MarkDone(y);
  }
  return 0;
}

// ---------------------------------------------------------------- removal and insertion

struct Remove_Params {
  GML_Color* Picture;
  const PAPixel* Seam;
  GML_Int* W;
  GML_Int* E;
  uint8_t Filter;
  GML_Gray* G;
  GML_Int* M;
  int32_t First, End;
};

unsigned RemoveWorker1(void* p) {
  auto& b = *static_cast<Remove_Params*>(p);
  const int32_t width = b.Picture->Width;
  for (int32_t y = b.First; y < b.End; ++y) {
    const int32_t x = (*b.Seam)[y].x;
    GML_RGBA* pic = b.Picture->Row(y);
    uint8_t* g = b.G->Row(y);
    const bool blend = b.W->Row(y)[x] >= 0;
    if (x >= 2) {
      if (blend) pic[x - 1] = Average_Color(pic[x], pic[x - 1]);
      g[x - 1] = Pixel_Gray(pic[x - 1]);
    }
    if (x + 1 < width) {
      if (blend) pic[x + 1] = Average_Color(pic[x], pic[x + 1]);
      g[x + 1] = Pixel_Gray(pic[x + 1]);
    }
    b.Picture->ShiftRow(x + 1, y, -1);
    b.G->ShiftRow(x + 1, y, -1);
    b.W->ShiftRow(x + 1, y, -1);
    b.M->ShiftRow(x + 1, y, -1);
  }
  return 0;
}

unsigned RemoveWorker2(void* p) {
  auto& b = *static_cast<Remove_Params*>(p);
  const int32_t ew = b.E->Width, eh = b.E->Height, nw = b.Picture->Width;
  for (int32_t y = b.First; y < b.End; ++y) {
    const int32_t x = (*b.Seam)[y].x;
    const bool fast = y > 3 && y < eh - 4 && x > 3 && x < ew - 4;
    int32_t* e = b.E->Row(y);
    for (int32_t c = x - 1; c >= x - 3; --c)
      if (c >= 0) e[c] = Edge_Value(*b.G, c, y, b.Filter, fast);
    // Written one place to the right; the shift below moves them into place.
    if (x + 1 < nw) {
      e[x + 1] = Edge_Value(*b.G, x, y, b.Filter, fast);
      if (x + 2 < nw) {
        e[x + 2] = Edge_Value(*b.G, x + 1, y, b.Filter, fast);
        if (x + 3 < nw) e[x + 3] = Edge_Value(*b.G, x + 2, y, b.Filter, fast);
      }
    }
    b.E->ShiftRow(x + 1, y, -1);
  }
  return 0;
}

struct Add_Params {
  GML_Color* Picture;
  const PAPixel* Seam;
  GML_Int* W;
  GML_Int* P;
  GML_Int* E;
  GML_Int* M;
  uint8_t Filter;
  GML_Gray* G;
  int32_t Stretch;
  int32_t First, End;
};

unsigned AddWorker1(void* p) {
  auto& b = *static_cast<Add_Params*>(p);
  for (int32_t y = b.First; y < b.End; ++y) {
    const int32_t x = (*b.Seam)[y].x;
    const int32_t xl = x > 0 ? x - 1 : 0;
    b.Picture->ShiftRow(x, y, +1);
    b.P->ShiftRow(x, y, +1);
    b.W->ShiftRow(x, y, +1);
    b.G->ShiftRow(x, y, +1);
    b.M->ShiftRow(x, y, +1);
    GML_RGBA* pic = b.Picture->Row(y);
    int32_t* w = b.W->Row(y);
    int32_t* pen = b.P->Row(y);
    pic[x] = Average_Color(pic[x], pic[xl]);
    w[x] = Wrap(w[x], w[xl]) / 2;
    b.G->Row(y)[x] = Pixel_Gray(pic[x]);
    pen[x] = b.Stretch;
    pen[x + 1] = Wrap(pen[x + 1], b.Stretch);
  }
  return 0;
}

unsigned AddWorker2(void* p) {
  auto& b = *static_cast<Add_Params*>(p);
  const int32_t ew = b.E->Width, eh = b.E->Height;
  for (int32_t y = b.First; y < b.End; ++y) {
    const int32_t x = (*b.Seam)[y].x;
    b.E->ShiftRow(x, y, +1);
    const bool fast = y > 3 && y < eh - 4 && x > 3 && x < ew - 4;
    int32_t* e = b.E->Row(y);
    for (int32_t c = x - 1; c >= x - 3 && c >= 0; --c) e[c] = Edge_Value(*b.G, c, y, b.Filter, fast);
    e[x] = Edge_Value(*b.G, x, y, b.Filter, fast);
    e[x + 1] = Edge_Value(*b.G, x + 1, y, b.Filter, fast);
    if (x + 2 < ew) {
      e[x + 2] = Edge_Value(*b.G, x + 2, y, b.Filter, fast);
      if (x + 3 < ew) e[x + 3] = Edge_Value(*b.G, x + 3, y, b.Filter, fast);
    }
  }
  return 0;
}

struct TAddWeightsBlock {
  const GML_Int* W;
  const GML_Int* P;
  GML_Int* S;
  const PAPixel* InsertedSeam;
  int32_t First, End;
};

unsigned AddWeightsWorker(void* p) {
  auto& b = *static_cast<TAddWeightsBlock*>(p);
  const int32_t w = b.S->Width;
  for (int32_t y = b.First; y < b.End; ++y) {
    const int32_t* __restrict wr = b.W->Row(y);
    const int32_t* __restrict pr = b.P->Row(y);
    int32_t* __restrict sr = b.S->Row(y);
    if (b.InsertedSeam) {
      // The insertion duplicated column x of W and P and then wrote columns
      // x and x + 1: the old sums moved one place right are right elsewhere.
      const int32_t x = (*b.InsertedSeam)[y].x;
      b.S->ShiftRow(x, y, +1);
      sr[x] = Wrap(wr[x], pr[x]);
      sr[x + 1] = Wrap(wr[x + 1], pr[x + 1]);
    } else {
      for (int32_t x = 0; x < w; ++x) sr[x] = Wrap(wr[x], pr[x]);
    }
  }
  return 0;
}

bool HasPixels(const GML_Color& m) { return m.Width > 0 && m.Height > 0; }

}  // namespace

// ---------------------------------------------------------------- plain functions

int32_t BandRows(int32_t height) {
  int32_t q = height / 4, r = height % 4;
  if (r == 3 || (r == 2 && (q & 1))) ++q;
  return q;
}

uint8_t Pixel_Gray(GML_RGBA p) {
  return static_cast<uint8_t>((299u * PixelRed(p) + 587u * PixelGreen(p) + 114u * PixelBlue(p)) / 1000u);
}

int32_t Edge_Value(const GML_Gray& G, int32_t x, int32_t y, uint8_t filter, bool fast) {
  return fast ? EdgeAt<true>(G, x, y, filter) : EdgeAt<false>(G, x, y, filter);
}

GML_RGBA Average_Color(GML_RGBA a, GML_RGBA b) {
  // Per byte (a + b) div 2, without carries between the bytes.
  return (a & b) + (((a ^ b) & 0xFEFEFEFEu) >> 1);
}

// ---------------------------------------------------------------- drivers

void TGEM::Fit_Image(const GML_Color& Source, const GML_Int& Weights, int32_t NewWidth, int32_t NewHeight,
                     int32_t Stretch, uint8_t Filter, bool ForwardEnergy, GML_Int& WorkWeights, GML_Color& Dest) {
  if (NewWidth == Source.Width && NewHeight == Source.Height) {
    Remove_Masked(Source, Weights, 0, 10, Stretch, Filter, true, WorkWeights, Dest);
    return;
  }
  WorkWeights.Assign(Weights);
  Run_Passes(Source, WorkWeights, NewWidth, NewHeight, Stretch, Filter, ForwardEnergy, Dest);
}

void TGEM::Resize_Image(const GML_Color& Source, GML_Int& Weights, int32_t NewWidth, int32_t NewHeight,
                        int32_t Stretch, uint8_t Filter, bool ForwardEnergy, GML_Color& Dest) {
  if (NewWidth == Source.Width && NewHeight == Source.Height) {
    Dest.Assign(Source);
    return;
  }
  Run_Passes(Source, Weights, NewWidth, NewHeight, Stretch, Filter, ForwardEnergy, Dest);
}

void TGEM::Run_Passes(const GML_Color& Source, GML_Int& Weights, int32_t NewWidth, int32_t NewHeight,
                      int32_t Stretch, uint8_t Filter, bool ForwardEnergy, GML_Color& Dest) {
  // No pixels in or no pixels out: there is no seam to search.
  if (!HasPixels(Source) || NewWidth <= 0 || NewHeight <= 0) {
    Dest.SetSize(0, 0);
    Weights.SetSize(0, 0);
    return;
  }
  GML_Color current(0, 0);
  current.Assign(Source);
  auto heightPass = [&](bool enlarge) {
    GML_Color t1(0, 0), t2(0, 0);
    GML_Int tw(0, 0);
    t1.Transpose(current);
    tw.Transpose(Weights);
    if (enlarge)
      Enlarge_Width(t1, tw, NewHeight, Stretch, Filter, ForwardEnergy, t2);
    else
      Reduce_Width(t1, tw, NewHeight, Filter, ForwardEnergy, t2);
    Dest.Transpose(t2);
    Weights.Transpose(tw);
  };
  if (NewWidth < Source.Width) {
    Reduce_Width(Source, Weights, NewWidth, Filter, ForwardEnergy, Dest);
    current.Assign(Dest);
  }
  if (NewHeight < Source.Height) {
    heightPass(false);
    current.Assign(Dest);
  }
  if (Source.Width < NewWidth) {
    Enlarge_Width(current, Weights, NewWidth, Stretch, Filter, ForwardEnergy, Dest);
    current.Assign(Dest);
  }
  if (Source.Height < NewHeight) heightPass(true);
}

void TGEM::Remove_Masked(const GML_Color& Source, const GML_Int& Weights, uint8_t Direction, int32_t Iterations,
                         int32_t Stretch, uint8_t Filter, bool ForwardEnergy, GML_Int& WorkWeights,
                         GML_Color& Dest) {
  GML_Color current(0, 0);
  current.Assign(Source);
  WorkWeights.Assign(Weights);
  for (int32_t it = 0; it < Iterations; ++it) {
    int32_t cols = 0, rows = 0;
    {
      std::vector<uint8_t> colMarked(static_cast<size_t>(Max(WorkWeights.Width, 0)), 0);
      for (int32_t y = 0; y < WorkWeights.Height; ++y) {
        const int32_t* r = WorkWeights.Row(y);
        bool rowMarked = false;
        for (int32_t x = 0; x < WorkWeights.Width; ++x)
          if (r[x] < 0) {
            colMarked[x] = 1;
            rowMarked = true;
          }
        rows += rowMarked;
      }
      for (uint8_t c : colMarked) cols += c;
    }
    int32_t tw = current.Width, th = current.Height;
    switch (Direction) {
      case 0:
        if (rows < cols)
          th -= rows;
        else
          tw -= cols;
        break;
      case 1:
        tw -= cols;
        break;
      case 2:
        th -= rows;
        break;
      default:
        continue;
    }
    // A region marked across the whole picture would carve it away entirely,
    // and nothing can be carved back from no pixels: keep at least one.
    tw = Max(tw, Min(1, current.Width));
    th = Max(th, Min(1, current.Height));
    Resize_Image(current, WorkWeights, tw, th, Stretch, Filter, ForwardEnergy, Dest);
    current.Assign(Dest);
  }
  Resize_Image(current, WorkWeights, Source.Width, Source.Height, Stretch, Filter, ForwardEnergy, Dest);
}

void TGEM::Reduce_Width(const GML_Color& Source, GML_Int& Weights, int32_t NewWidth, uint8_t Filter,
                        bool ForwardEnergy, GML_Color& Dest) {
  GML_Gray G(Source.Width, Source.Height);
  GML_Int E(Source.Width, Source.Height), M(Source.Width, Source.Height);
  PAPixel seam(static_cast<size_t>(Source.Height));
  Dest.Assign(Source);
  Grayscale_Image(Source, G);
  Edge_Detect(G, E, Filter);
  // From the second seam on the right half of the cost map is repaired rather
  // than recomputed, as long as every step since the last whole search ran.
  bool mapExact = false;
  for (int32_t k = 0; k < Source.Width - NewWidth; ++k) {
    Find_Path(E, Weights, M, seam, ForwardEnergy, k == 0, &mapExact);
    mapExact = Remove_Path(Dest, seam, Weights, E, G, M, Filter) && mapExact;
  }
}

void TGEM::Enlarge_Width(const GML_Color& Source, GML_Int& Weights, int32_t NewWidth, int32_t Stretch,
                         uint8_t Filter, bool ForwardEnergy, GML_Color& Dest) {
  const int32_t w = Source.Width, h = Source.Height;
  const int32_t cap = Max(NewWidth, w);
  GML_Gray G(w, h);
  GML_Int P(w, h), S(w, h), E(w, h), M(w, h);
  PAPixel seam(static_cast<size_t>(h));
  Dest.SetSize(w, h);
  Dest.Reserve(cap, h);
  G.Reserve(cap, h);
  E.Reserve(cap, h);
  M.Reserve(cap, h);
  Reserve_Weights(Weights, cap);
  P.Reserve(cap, h);
  S.Reserve(cap, h);
  P.Fill(0);
  Copy_Image(Source, Dest);
  Grayscale_Image(Source, G);
  Edge_Detect(G, E, Filter);
  // S is carried from seam to seam and only repaired at the inserted seam,
  // and the right half of the cost map is repaired rather than recomputed.
  // Both need every step since to have run whole; after a step that could
  // not start all its workers they are made anew.
  bool sumsCurrent = false, mapExact = false;
  for (int32_t k = 0; k < NewWidth - w; ++k) {
    // Sums made anew after a failed step may differ anywhere, and so may the
    // cost map searched on the sums before them.
    const bool carried = sumsCurrent;
    sumsCurrent = Add_Weights(Weights, P, S, carried ? &seam : nullptr);
    mapExact = mapExact && carried && sumsCurrent;
    Find_Path(E, S, M, seam, ForwardEnergy, k == 0, &mapExact);
    const bool inserted = Add_Path(Dest, seam, Weights, E, G, P, M, Stretch, Filter);
    sumsCurrent = inserted && sumsCurrent;
    mapExact = inserted && mapExact;
  }
}

void TGEM::Reserve_Weights(GML_Int& m, int32_t w) {
  GML_Int t(0, 0);
  t.Assign(m);
  m.Reserve(Max(w, m.Width), m.Height);
  for (int32_t y = 0; y < t.Height; ++y)
    for (int32_t x = 0; x < t.Width; ++x) m.Set(x, y, t.Get(x, y));
}

void TGEM::Copy_Image(const GML_Color& Source, GML_Color& Dest) {
  for (int32_t y = 0; y < Source.Height; ++y) {
    const GML_RGBA* s = Source.Row(y);
    GML_RGBA* d = Dest.Row(y);
    for (int32_t x = 0; x < Source.Width; ++x) d[x] = s[x];
  }
}

// ---------------------------------------------------------------- per-pass and per-seam steps

void TGEM::Grayscale_Image(const GML_Color& Source, GML_Gray& G) {
  const int32_t h = Source.Height, c = BandRows(h);
  TGrayBlock blocks[kBands];
  for (int i = 0; i < kBands; ++i) {
    TBand band = RowBand(i, h, c);
    blocks[i] = {&Source, &G, band.First, band.End};
  }
  TWorkerGroup group(kGrayscaleFailed);
  StartAll(group, GrayWorker, blocks);
}

void TGEM::Edge_Detect(const GML_Gray& G, GML_Int& E, uint8_t Filter) {
  const int32_t h = G.Height, w = G.Width, c = BandRows(h);
  TEdgeBlock blocks[kBands];
  for (int i = 0; i < kBands; ++i) {
    TBand band = RowBand(i, h, c);
    // Only the interior rows 1 .. h - 2 go to the bands.
    int32_t first = Max(1, 1 + band.First);
    int32_t end = Min(h - 1, i == kBands - 1 ? h - 1 : 1 + band.End);
    blocks[i] = {&G, &E, first, end > first ? end : first, Filter};
  }
  TWorkerGroup group(kEdgeFailed);
  if (!StartAll(group, EdgeWorker, blocks)) return;
  int32_t* top = E.Row(0);
  int32_t* bottom = E.Row(h - 1);
  for (int32_t x = 0; x < w; ++x) {
    top[x] = EdgeAt<false>(G, x, 0, Filter);
    bottom[x] = EdgeAt<false>(G, x, h - 1, Filter);
  }
}

int32_t TGEM::Find_Path(const GML_Int& E, const GML_Int& S, GML_Int& M, PAPixel& Seam, bool ForwardEnergy,
                        bool First, bool* Exact) {
  M.SetWidth(E.Width);
  const bool complete =
      Energy_Path(E, S, M, ForwardEnergy, First ? nullptr : &Seam, !First && Exact && *Exact);
  if (Exact) *Exact = complete;
  const int32_t w = M.Width, h = M.Height;
  const int32_t* bottom = M.Row(h - 1);
  int32_t best = 0;
  for (int32_t x = 0; x < w; ++x)
    if (bottom[x] < bottom[best]) best = x;
  Trace_Path(M, best, Seam);
  return bottom[best];
}

bool TGEM::Energy_Path(const GML_Int& E, const GML_Int& S, GML_Int& M, bool ForwardEnergy,
                       const PAPixel* PreviousSeam, bool RepairRight) {
  TLock lock;
  TCondition condition;
  std::unique_ptr<os::Semaphore> gateLeft(os::Semaphore::Create(0, 1));
  if (!gateLeft) RaiseLastOSError();
  std::unique_ptr<os::Semaphore> gateRight(os::Semaphore::Create(0, 1));
  if (!gateRight) RaiseLastOSError();
  TRowSignals signalsLeft, signalsRight;
  int32_t ready = 0;
  std::atomic<bool> abort{false};

  const int32_t w = M.Width;
  Energy_Params left{&signalsLeft, &signalsRight, &lock, &condition, gateLeft.get(), &E, &S, &M, 0, w / 2,
                     ForwardEnergy, PreviousSeam, RepairRight, &ready, true, &abort};
  Energy_Params right = left;
  right.Own = &signalsRight;
  right.Neighbour = &signalsLeft;
  right.Gate = gateRight.get();
  right.FirstColumn = w / 2 + 1;
  right.LastColumn = w - 1;
  right.Left = false;

  TWorkerGroup group(kEnergyFailed);
  if (!group.Start(EnergyWorker, &left) || !group.Start(EnergyWorker, &right)) {
    // A worker already waiting at its gate is let through to end at once.
    abort = true;
    gateLeft->Release(1);
    gateRight->Release(1);
    return false;
  }
  lock.Enter();
  while (ready < 2) condition.Wait(lock);
  lock.Leave();
  gateLeft->Release(1);
  gateRight->Release(1);
  return true;
}

void TGEM::Trace_Path(const GML_Int& M, int32_t x, PAPixel& Seam) {
  const int32_t w = M.Width;
  auto cost = [&](const int32_t* row, int32_t c) { return c >= 0 && c < w ? row[c] : 2147483647; };
  for (int32_t y = M.Height - 1; y >= 0; --y) {
    const int32_t* row = M.Row(y);
    int32_t c = x;
    if (cost(row, x - 1) < cost(row, c)) c = x - 1;
    if (cost(row, x + 1) < cost(row, c)) c = x + 1;
    Seam[y] = {c, y};
    x = c;
  }
}

bool TGEM::Remove_Path(GML_Color& Picture, const PAPixel& Seam, GML_Int& W, GML_Int& E, GML_Gray& G, GML_Int& M,
                       uint8_t Filter) {
  const int32_t h = Picture.Height, c = BandRows(h);
  Remove_Params blocks[kBands];
  for (int i = 0; i < kBands; ++i) {
    TBand band = RowBand(i, h, c);
    blocks[i] = {&Picture, &Seam, &W, &E, Filter, &G, &M, band.First, band.End};
  }
  {
    TWorkerGroup group(kRemovePathFailed);
    if (!StartAll(group, RemoveWorker1, blocks)) return false;
  }
  Picture.SetWidth(Picture.Width - 1);
  W.SetWidth(Picture.Width);
  G.SetWidth(Picture.Width);
  {
    TWorkerGroup group(kRemovePathFailed);
    if (!StartAll(group, RemoveWorker2, blocks)) return false;
  }
  E.SetWidth(Picture.Width);
  return true;
}

bool TGEM::Add_Path(GML_Color& Picture, const PAPixel& Seam, GML_Int& W, GML_Int& E, GML_Gray& G, GML_Int& P,
                    GML_Int& M, int32_t Stretch, uint8_t Filter) {
  Picture.SetWidth(Picture.Width + 1);
  P.SetWidth(Picture.Width);
  W.SetWidth(Picture.Width);
  E.SetWidth(Picture.Width);
  G.SetWidth(Picture.Width);
  M.SetWidth(Picture.Width);
  const int32_t h = Picture.Height, c = BandRows(h);
  Add_Params blocks[kBands];
  for (int i = 0; i < kBands; ++i) {
    TBand band = RowBand(i, h, c);
    blocks[i] = {&Picture, &Seam, &W, &P, &E, &M, Filter, &G, Stretch, band.First, band.End};
  }
  {
    TWorkerGroup group(kAddPathFailed);
    if (!StartAll(group, AddWorker1, blocks)) return false;
  }
  TWorkerGroup group(kAddPathFailed);
  return StartAll(group, AddWorker2, blocks);
}

bool TGEM::Add_Weights(const GML_Int& W, const GML_Int& P, GML_Int& S, const PAPixel* InsertedSeam) {
  S.SetWidth(W.Width);
  const int32_t h = W.Height, c = BandRows(h);
  TAddWeightsBlock blocks[kBands];
  for (int i = 0; i < kBands; ++i) {
    TBand band = RowBand(i, h, c);
    blocks[i] = {&W, &P, &S, InsertedSeam, band.First, band.End};
  }
  // The repair runs on the step's four band workers like the whole sum, so
  // the step starts the same threads and fails the same way: a worker that
  // cannot start shows the message, and its band and the later ones keep the
  // previous sums, as they would with the whole sum.
  TWorkerGroup group(kAddWeightsFailed);
  return StartAll(group, AddWeightsWorker, blocks);
}
