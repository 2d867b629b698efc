#include "gtiff/gtiffwriter.h"

#include <geotiff/xtiffio.h>
#include <libdeflate.h>
#include <tiffio.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <vector>

#include "gtiff/geokeys.h"
#include "gtiff/overviews.h"
#include "gtiff/tiffmemory.h"
#include "sdts/crs.h"
#include "support/errors.h"
#include "support/filesink.h"
#include "support/textutil.h"

namespace veloran {

// A GeoTIFF being made: begun once the grid is sized, it compresses the
// grid's tiles as their rows are read (TElevationGrid::RowsRead), on the
// threads it can borrow; Write adds the overviews, the rest of the tiles
// and the file.
class ITiffSession {
 public:
  virtual ~ITiffSession() = default;
  // Returns the number of levels.
  virtual int Write(const std::string& path, IProgress& progress, TFileSink& sink) = 0;
};

namespace {

// libdeflate's level 6, GDAL's own: the real transfers' COGs within 5 % of
// GDAL's size (level 2 made them 10 to 16 % larger, level 5 still 9 % for
// Mount Tabor), a 1201 x 1201 COG in 64 ms against 44 ms at level 2 and
// 506 ms for gdal_translate. The README's table has every level.
constexpr int kDeflateLevel = 6;

// The date of the conversion as TIFF writes it, SOURCE_DATE_EPOCH's when
// that is set (as for the DEM).
std::string TiffDateTime() {
  const std::tm parts = ConversionDate();
  char text[32];
  std::strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &parts);
  return text;
}

// GDAL's note after the TIFF header of a Cloud Optimized GeoTIFF: with it,
// readers know the directories come first and each tile is preceded by
// its size and followed by its last 4 bytes, and GDAL reports LAYOUT=COG.
std::string CogGhostArea() {
  const std::string options =
      "LAYOUT=IFDS_BEFORE_DATA\nBLOCK_ORDER=ROW_MAJOR\nBLOCK_LEADER=SIZE_AS_UINT4\n"
      "BLOCK_TRAILER=LAST_4_BYTES_REPEATED\nKNOWN_INCOMPATIBLE_EDITION=NO\n ";
  char size[64];
  std::snprintf(size, sizeof size, "GDAL_STRUCTURAL_METADATA_SIZE=%06zu bytes\n", options.size());
  return size + options;
}

template <class T>
class TTiffWriter final : public ITiffSession {
 public:
  TTiffWriter(const TConversionState& state, const TMappedArray<T>& raw, TTiffLayout layout, TExecutor* threads)
      : State(state), Layout(layout), Tile(layout == TTiffLayout::Tiled ? 256 : 512), Compressing(threads),
        Rows(state.Grid.RowsRead) {
    // Every level's size now, its cells as they are computed.
    TLevel<T> full;
    full.Width = static_cast<uint32_t>(state.Grid.ColCount);
    full.Height = static_cast<uint32_t>(state.Grid.RowCount);
    full.Cells = raw.data();
    Levels.push_back(full);
    if (Layout == TTiffLayout::CloudOptimized)
      while (Levels.back().Width > 512 || Levels.back().Height > 512) {
        TLevel<T> half;
        half.Width = (Levels.back().Width + 1) / 2;
        half.Height = (Levels.back().Height + 1) / 2;
        Levels.push_back(half);
      }
    Start();
  }
  // Whatever happened, the threads stop.
  ~TTiffWriter() override {
    StopAll();
    Rows.store(-1, std::memory_order_release);  // the reading ended short: no more rows come
    Rows.notify_all();
    Compressing.Wait();
  }

  int Write(const std::string& path, IProgress& progress, TFileSink& sink) override {
    Path = path;
    Finish();

    TMemoryFile file(PackedEnd + 65536 * Levels.size() + 8 * Places.size());
    TIFF* tif = OpenMemoryTiff(Path, file, Error);
    if (!tif) Failed();
    try {
      if (Layout == TTiffLayout::Tiled) {
        SetFields(tif, Levels[0], 0);
        WriteTiles(tif, file, 0, false);
      } else {
        // The header, GDAL's note, every directory with its tile arrays
        // reserved; then the tiles, the smallest overview's first, as
        // readers of cloud storage want.
        const std::string ghost = CogGhostArea();
        file.Append(ghost.data(), ghost.size());
        for (size_t i = 0; i < Levels.size(); ++i) {
          SetFields(tif, Levels[i], i);
          Check(TIFFDeferStrileArrayWriting(tif));
          Check(TIFFWriteCheck(tif, 1, "cog"));
          Check(TIFFWriteDirectory(tif));
        }
        for (size_t i = 0; i < Levels.size(); ++i) {
          Check(TIFFSetDirectory(tif, static_cast<tdir_t>(i)));
          Check(TIFFForceStrileArrayWriting(tif));
        }
        for (size_t i = Levels.size(); i-- > 0;) {
          Check(TIFFSetDirectory(tif, static_cast<tdir_t>(i)));
          WriteTiles(tif, file, i, true);
          // The tile arrays reserved above are rewritten in place.
          Check(TIFFFlush(tif));
        }
      }
      progress.SetShare(9, 10);
    } catch (...) {
      TIFFClose(tif);
      throw;
    }
    TIFFClose(tif);
    if (!Error.empty()) Failed();
    sink.Write(file.data(), file.size());
    return static_cast<int>(Levels.size());
  }

 private:
  // Each compressing thread's compressor, and its tile and compressed
  // bytes in the room given.
  struct TWorker {
    TWorker(uint32_t tile, int level, uint8_t* room)
        : Compressor(libdeflate_alloc_compressor(level), libdeflate_free_compressor),
          Tile(reinterpret_cast<T*>(room)),
          Scratch(room + size_t{tile} * tile * sizeof(T)) {
      if (!Compressor) throw std::bad_alloc();
    }
    std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> Compressor;
    T* Tile;
    uint8_t* Scratch;
  };

  [[noreturn]] void Failed() const {
    Fail(TErrorKind::OutputIo, "Cannot write file " + Path + ": " + (Error.empty() ? std::string("the TIFF library failed") : Error));
  }
  void Check(int ok) const {
    if (!ok) Failed();
  }

  void SetFields(TIFF* tif, const TLevel<T>& level, size_t index) {
    constexpr bool floats = std::is_floating_point_v<T>;
    if (index > 0) TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, level.Width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, level.Height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(8 * sizeof(T)));
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, floats ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_INT);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tif, TIFFTAG_PREDICTOR, Predictor);
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, Tile);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, Tile);
    TIFFSetField(tif, kGdalNoDataTag, std::to_string(kNoDataElevation).c_str());
    if (index > 0) return;
    const TSdtsInfo& info = State.Info;
    TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, info.Title.c_str());
    TIFFSetField(tif, TIFFTAG_SOFTWARE, "Veloran");
    TIFFSetField(tif, TIFFTAG_DATETIME, TiffDateTime().c_str());
    // The grid's outer corner: the upper-left cell's centre less half a
    // cell, as GDAL places an SDTS raster.
    const double scale[3] = {info.SpacingX, info.SpacingY, 0};
    const double tiepoint[6] = {0, 0, 0, info.UpperLeftX - info.SpacingX / 2, info.UpperLeftY + info.SpacingY / 2, 0};
    TIFFSetField(tif, TIFFTAG_GEOPIXELSCALE, 3, scale);
    TIFFSetField(tif, TIFFTAG_GEOTIEPOINTS, 6, tiepoint);
    const std::vector<uint16_t> keys = GeoKeyDirectory(info);
    TIFFSetField(tif, TIFFTAG_GEOKEYDIRECTORY, static_cast<int>(keys.size()), keys.data());
  }

  // Queues every tile of every level, makes room for the compression (see
  // Work) and starts the threads that compress while the rows are read.
  void Start() {
    for (size_t l = 0; l < Levels.size(); ++l) {
      First.push_back(Queue.size());
      const size_t count = size_t{(Levels[l].Width + Tile - 1) / Tile} * ((Levels[l].Height + Tile - 1) / Tile);
      for (size_t t = 0; t < count; ++t) Queue.emplace_back(l, t);
    }
    Places.resize(Queue.size());
    TileBytes = size_t{Tile} * Tile * sizeof(T);
    Bound = libdeflate_zlib_compress_bound(nullptr, TileBytes);
    // The thread that writes and the free ones of the executor, no more
    // than there are processors or tiles.
    const unsigned helpers = static_cast<unsigned>(std::min<size_t>(Processors(), Queue.size())) - 1;
    const unsigned workers = 1 + helpers;
    // One room for everything the compression writes: each thread's tile
    // and compressed bytes, the overviews, then the compressed tiles one
    // after the other. On this kind of machine new memory costs more than
    // the work done in it (a 2 MiB huge page is zeroed when first touched):
    // rooms of their own touched 5 pages where this touches 2.
    auto aligned = [](size_t bytes) { return (bytes + 63) / 64 * 64; };
    WorkerBytes = aligned(TileBytes + Bound);
    At = {workers * WorkerBytes};
    for (size_t l = 1; l < Levels.size(); ++l)
      At.push_back(At.back() + aligned(sizeof(T) * Levels[l].Width * Levels[l].Height));
    Room.Reserve(At.back() + Bound * Queue.size());
    Packed = static_cast<uint8_t*>(Room.get()) + At.back();
    Ready = First.size() > 1 ? First[1] : Queue.size();  // tiles whose level is computed
    // Fewer threads (none free): the tiles left are compressed by Write
    // all the same.
    Compressing.Start(helpers, [this] { Guarded(); });
  }

  // After the reading: the overviews, computed by this thread while the
  // others compress, then every tile left.
  void Finish() {
    try {
      for (size_t l = 1; l < Levels.size(); ++l) {
        HalfLevel(Levels[l - 1], Levels[l], reinterpret_cast<T*>(static_cast<uint8_t*>(Room.get()) + At[l - 1]));
        Ready = l + 1 < First.size() ? First[l + 1] : Queue.size();
        Ready.notify_all();
      }
    } catch (...) {
      StopAll();
      throw;
    }
    Guarded();
    Compressing.Wait();
    if (Failure) std::rethrow_exception(Failure);
  }

  void Guarded() {
    try {
      Work();
    } catch (...) {
      std::lock_guard lock(FailureMutex);
      if (!Failure) Failure = std::current_exception();
      StopAll();
    }
  }
  void StopAll() {
    Stop = true;
    Ready = Queue.size();
    Ready.notify_all();
  }

  // Every tile of every level: the predictor applied and DEFLATE-compressed
  // on all the threads at once, from one queue across the Levels so that
  // no thread waits at a level's last tile; libtiff's own encoder does one
  // tile after the other (a 1201 x 1201 COG took 200 ms, against 390 ms for
  // gdal_translate). A tile of the grid waits for its rows to be read; an
  // overview's for the overview. The compressed tiles land one after the
  // other in one mapped room, in the order they are done.
  void Work() {
    TWorker worker(Tile, kDeflateLevel, static_cast<uint8_t*>(Room.get()) + ThreadIndex++ * WorkerBytes);
    if constexpr (std::is_floating_point_v<T>) std::call_once(PredictorChosen, [&] { ChoosePredictor(worker); });
    for (size_t i; (i = Next++) < Queue.size();) {
      for (size_t known; i >= (known = Ready.load());) Ready.wait(known);
      const auto [l, t] = Queue[i];
      const TLevel<T>& level = Levels[l];
      const uint32_t across = (level.Width + Tile - 1) / Tile;
      const uint32_t x = static_cast<uint32_t>(t % across) * Tile, y = static_cast<uint32_t>(t / across) * Tile;
      if (l == 0 && !RowsRead(std::min(y + Tile, level.Height))) return;
      if (Stop) return;
      Predict(level, x, y, worker.Tile);
      const size_t size = libdeflate_zlib_compress(worker.Compressor.get(), worker.Tile, TileBytes, worker.Scratch,
                                                   Bound);
      const size_t end = PackedEnd.fetch_add(size);
      std::memcpy(Packed + end, worker.Scratch, size);
      Places[i] = {end, size};
    }
  }
  // Waits until the grid's first `rows` rows are read; false when the
  // reading ended short or the work stops.
  bool RowsRead(uint32_t rows) {
    for (int32_t read; (read = Rows.load(std::memory_order_acquire)) >= 0 && static_cast<uint32_t>(read) < rows;) {
      if (Stop) return false;
      Rows.wait(read);
    }
    return Rows.load(std::memory_order_acquire) >= 0 && !Stop;
  }

  // The tiles of one level, in order; in a COG each one preceded by its
  // size and followed by its last 4 bytes.
  void WriteTiles(TIFF* tif, TMemoryFile& file, size_t level, bool cog) {
    const size_t count = (level + 1 < First.size() ? First[level + 1] : Places.size()) - First[level];
    for (size_t i = 0; i < count; ++i) {
      const auto [at, size] = Places[First[level] + i];
      auto* bytes = Packed + at;
      if (size < 4) Failed();
      if (cog) {
        const uint32_t leader = static_cast<uint32_t>(size);  // little-endian, as the file
        file.Append(&leader, 4);
      }
      if (TIFFWriteRawTile(tif, static_cast<uint32_t>(i), bytes, static_cast<tmsize_t>(size)) < 0) Failed();
      if (cog) file.Append(bytes + size - 4, 4);
    }
  }

  // Reals compress best with the predictor that suits their values:
  // elevations in steps of 0.1 (decimal transfers) come out at about half
  // the size with horizontal differences of their bits (Cape Canaveral
  // 53,177 against 91,625 bytes), reals with many digits smaller with the
  // floating-point predictor. The first 64 rows of the grid's middle
  // column of tiles are compressed both ways, and the smaller wins.
  void ChoosePredictor(TWorker& trial) {
    const TLevel<T>& full = Levels[0];
    const uint32_t rows = std::min({Tile, 64u, full.Height});
    if (!RowsRead(rows)) return;
    const uint32_t x = full.Width / 2 / Tile * Tile;
    const size_t sample = size_t{Tile} * rows * sizeof(T);
    size_t best = SIZE_MAX;
    uint16_t chosen = PREDICTOR_FLOATINGPOINT;
    for (const uint16_t predictor : {PREDICTOR_FLOATINGPOINT, PREDICTOR_HORIZONTAL}) {
      Predictor = predictor;
      Predict(full, x, 0, trial.Tile, rows);  // no further: the rows below may be being read
      const size_t size = libdeflate_zlib_compress(trial.Compressor.get(), trial.Tile, sample, trial.Scratch,
                                                   libdeflate_zlib_compress_bound(nullptr, sample));
      if (size != 0 && size < best) best = size, chosen = predictor;
    }
    Predictor = chosen;
  }

  // The tile at (x, y), filled out with no data past the level's edge, with
  // the TIFF predictor applied row by row, in a little-endian file:
  // horizontal differences of 16-bit integers or of the 32 bits of reals
  // (predictor 2), or of the bytes of reals laid out in planes, most
  // significant first (predictor 3). At most `rows` rows of the level are read.
  void Predict(const TLevel<T>& level, uint32_t x, uint32_t y, T* tile, uint32_t rows = UINT32_MAX) const {
    const uint32_t w = std::min(Tile, level.Width - x), h = std::min({Tile, level.Height - y, rows});
    for (uint32_t r = 0; r < h; ++r) {
      const T* from = level.Cells + size_t{y + r} * level.Width + x;
      T* to = tile + size_t{r} * Tile;
      for (uint32_t i = 0; i < w; ++i) to[i] = RawOrNoData(from[i]);
      std::fill(to + w, to + Tile, static_cast<T>(kNoDataElevation));
    }
    std::fill(tile + size_t{h} * Tile, tile + size_t{Tile} * Tile, static_cast<T>(kNoDataElevation));
    for (uint32_t r = 0; r < Tile; ++r) {
      T* row = tile + size_t{r} * Tile;
      if constexpr (std::is_floating_point_v<T>) {
        if (Predictor == PREDICTOR_HORIZONTAL) {
          uint32_t bits[512];
          std::memcpy(bits, row, 4 * Tile);
          for (uint32_t i = Tile - 1; i > 0; --i) bits[i] -= bits[i - 1];
          std::memcpy(row, bits, 4 * Tile);
          continue;
        }
        uint8_t planes[4 * 512];
        const auto* bytes = reinterpret_cast<const uint8_t*>(row);
        for (uint32_t i = 0; i < Tile; ++i)
          for (uint32_t b = 0; b < 4; ++b) planes[(3 - b) * Tile + i] = bytes[4 * i + b];
        for (uint32_t i = 4 * Tile - 1; i > 0; --i) planes[i] = static_cast<uint8_t>(planes[i] - planes[i - 1]);
        std::memcpy(row, planes, 4 * Tile);
      } else {
        for (uint32_t i = Tile - 1; i > 0; --i) row[i] = static_cast<T>(static_cast<uint16_t>(row[i] - row[i - 1]));
      }
    }
  }

  const TConversionState& State;
  std::string Path;
  const TTiffLayout Layout;
  const uint32_t Tile;
  TTaskGroup Compressing;  // the other threads' compression
  std::atomic<int32_t>& Rows;  // the grid's rows read so far
  uint16_t Predictor = std::is_floating_point_v<T> ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL;
  std::once_flag PredictorChosen;
  std::string Error;
  std::vector<TLevel<T>> Levels;
  std::vector<std::pair<size_t, size_t>> Queue;  // (level, tile)
  size_t TileBytes = 0, Bound = 0, WorkerBytes = 0;
  std::vector<size_t> At;  // where each overview lies in Room
  std::atomic<size_t> Next{0}, ThreadIndex{0}, Ready{0};
  std::atomic<bool> Stop{false};
  std::mutex FailureMutex;
  std::exception_ptr Failure;
  TMappedBytes Room;               // see Start
  uint8_t* Packed = nullptr;       // the compressed tiles, in Room
  std::atomic<size_t> PackedEnd{0};
  std::vector<std::pair<size_t, size_t>> Places;  // (offset in Packed, size) of each tile in queue order
  std::vector<size_t> First;                        // each level's first tile in queue order
};

}  // namespace

TGeoTiff::TGeoTiff(const TConversionState& state, TTiffLayout layout, TExecutor* threads) : State(state) {
  const TElevationGrid& grid = state.Grid;
  if (!grid.RawFloat.empty()) {
    Session = std::make_unique<TTiffWriter<float>>(state, grid.RawFloat, layout, threads);
  } else {
    Session = std::make_unique<TTiffWriter<int16_t>>(state, grid.RawInt16, layout, threads);
  }
}

TGeoTiff::~TGeoTiff() = default;

int TGeoTiff::Write(const std::string& path, bool sync, IProgress& progress) {
  UtmCrsOf(State.Info);  // before any file is created
  TFileSink sink(path, sync);  // the bytes come in one piece
  const int levels = Session->Write(path, progress, sink);
  sink.Commit();
  progress.SetProgress(100);
  return levels;
}

}  // namespace veloran
