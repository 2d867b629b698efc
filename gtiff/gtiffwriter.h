// The GeoTIFF writer: the transfer's own grid, lossless, with its
// coordinate system, through libtiff (libgeotiff gives the tag and key
// numbers only).
#pragma once

#include <memory>
#include <string>

#include "sdts/sdtsinfo.h"
#include "support/progress.h"
#include "support/threads.h"

namespace veloran {

// Tiled: 256 x 256 tiles. CloudOptimized: 512 x 512 tiles, overviews down
// to at most 512 pixels, every directory before the tiles, the smallest
// overview's tiles first.
enum class TTiffLayout { Tiled, CloudOptimized };

class ITiffSession;

// A GeoTIFF begun while its transfer is read: made once the grid is sized
// (TCellRequest::OnSized), it compresses the grid's tiles as
// their rows are read, on this thread and the free ones of `threads`; Write, once the reading is done, adds the overviews and
// writes the file. Dropped without Write, its threads stop.
class TGeoTiff {
 public:
  TGeoTiff(const TConversionState& state, TTiffLayout layout, TExecutor* threads);
  ~TGeoTiff();
  TGeoTiff(const TGeoTiff&) = delete;
  TGeoTiff& operator=(const TGeoTiff&) = delete;
  // Writes the file, safely as every output, once the reading is done.
  // Fails with "Cannot create file %s: ..." or "Cannot write file %s:
  // ...". Returns the number of levels written: the grid, and a COG's
  // overviews.
  int Write(const std::string& path, bool sync, IProgress& progress);

 private:
  const TConversionState& State;
  std::unique_ptr<ITiffSession> Session;
};

}  // namespace veloran
