#pragma once
// The seam-carving engine: resizes a colour picture by removing and inserting
// seams of least edge energy, steered by a per-pixel weight matrix.
#include <cstdint>
#include <vector>

#include "engine/GML_type.h"

struct TPixelPos {
  int32_t x;
  int32_t y;
};
// A seam: entry y holds the seam's pixel in row y.
using PAPixel = std::vector<TPixelPos>;

// Edge filters, by their index in the settings list.
enum : uint8_t { FILTER_PREWITT = 0, FILTER_V1 = 1, FILTER_V_SQUARE = 2, FILTER_SOBEL = 3, FILTER_LAPLACIAN = 4 };

uint8_t Pixel_Gray(GML_RGBA p);
int32_t Edge_Value(const GML_Gray& G, int32_t x, int32_t y, uint8_t filter, bool fast);
GML_RGBA Average_Color(GML_RGBA a, GML_RGBA b);

class TGEM : public TObject {
 public:
  void Fit_Image(const GML_Color& Source, const GML_Int& Weights, int32_t NewWidth, int32_t NewHeight,
                 int32_t Stretch, uint8_t Filter, bool ForwardEnergy, GML_Int& WorkWeights, GML_Color& Dest);
  void Remove_Masked(const GML_Color& Source, const GML_Int& Weights, uint8_t Direction, int32_t Iterations,
                     int32_t Stretch, uint8_t Filter, bool ForwardEnergy, GML_Int& WorkWeights, GML_Color& Dest);

  // The steps below are public so that tests can drive them one by one.
  void Resize_Image(const GML_Color& Source, GML_Int& Weights, int32_t NewWidth, int32_t NewHeight,
                    int32_t Stretch, uint8_t Filter, bool ForwardEnergy, GML_Color& Dest);
  void Reduce_Width(const GML_Color& Source, GML_Int& Weights, int32_t NewWidth, uint8_t Filter,
                    bool ForwardEnergy, GML_Color& Dest);
  void Enlarge_Width(const GML_Color& Source, GML_Int& Weights, int32_t NewWidth, int32_t Stretch,
                     uint8_t Filter, bool ForwardEnergy, GML_Color& Dest);
  static void Reserve_Weights(GML_Int& m, int32_t w);
  static void Copy_Image(const GML_Color& Source, GML_Color& Dest);

  void Grayscale_Image(const GML_Color& Source, GML_Gray& G);
  void Edge_Detect(const GML_Gray& G, GML_Int& E, uint8_t Filter);

  // Exact, if given, is read and written. On entry, true means: M's columns
  // right of the split hold the exact cost map of the previous search, moved
  // with the picture's columns, and E and S have changed since only as one
  // Remove_Path or Add_Path (and Add_Weights at that seam) change them, all
  // run whole. The right worker then recomputes only the cells that can come
  // out different. On return: whether both cost-map workers ran.
  int32_t Find_Path(const GML_Int& E, const GML_Int& S, GML_Int& M, PAPixel& Seam, bool ForwardEnergy,
                    bool First, bool* Exact = nullptr);
  // RepairRight (with a previous seam): the right worker repairs its columns
  // as described at Find_Path. Returns false when a worker could not be started.
  bool Energy_Path(const GML_Int& E, const GML_Int& S, GML_Int& M, bool ForwardEnergy,
                   const PAPixel* PreviousSeam, bool RepairRight = false);
  static void Trace_Path(const GML_Int& M, int32_t x, PAPixel& Seam);

  // Returns false when a worker could not be started.
  bool Remove_Path(GML_Color& Picture, const PAPixel& Seam, GML_Int& W, GML_Int& E, GML_Gray& G, GML_Int& M,
                   uint8_t Filter);
  // Returns false when a worker could not be started.
  bool Add_Path(GML_Color& Picture, const PAPixel& Seam, GML_Int& W, GML_Int& E, GML_Gray& G, GML_Int& P,
                GML_Int& M, int32_t Stretch, uint8_t Filter);
  // S := W + P. With InsertedSeam, S must hold W + P as they were before
  // Add_Path inserted that seam, and only what the insertion changed is
  // redone. Returns false when a worker could not be started.
  bool Add_Weights(const GML_Int& W, const GML_Int& P, GML_Int& S, const PAPixel* InsertedSeam = nullptr);

 private:
  // The passes narrower, lower, wider, higher, each on the result of the one before.
  void Run_Passes(const GML_Color& Source, GML_Int& Weights, int32_t NewWidth, int32_t NewHeight,
                  int32_t Stretch, uint8_t Filter, bool ForwardEnergy, GML_Color& Dest);
};

// Rows per band worker: a quarter of the height, halves to even; the last
// band runs to the bottom.
int32_t BandRows(int32_t height);
