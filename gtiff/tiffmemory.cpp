#include "gtiff/tiffmemory.h"

#include <geotiff/geokeys.h>
#include <geotiff/geovalues.h>
#include <geotiff/xtiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace veloran {

namespace {

// The GeoTIFF tags written, as libgeotiff defines them, and GDAL_NODATA.
// libgeotiff's own registration (libxtiff) is not linked: inside the GDAL
// plugin a static copy of it would stand beside the GDAL process's shared
// libgeotiff.
TIFFExtendProc PreviousExtender = nullptr;
void RegisterTags(TIFF* tif) {
  static const TIFFFieldInfo kFields[] = {
      {TIFFTAG_GEOPIXELSCALE, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("GeoPixelScale")},
      {TIFFTAG_GEOTIEPOINTS, -1, -1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 1, const_cast<char*>("GeoTiePoints")},
      {TIFFTAG_GEOKEYDIRECTORY, -1, -1, TIFF_SHORT, FIELD_CUSTOM, 1, 1, const_cast<char*>("GeoKeyDirectory")},
      {kGdalNoDataTag, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char*>("GDALNoDataValue")}};
  TIFFMergeFieldInfo(tif, kFields, std::size(kFields));
  if (PreviousExtender) PreviousExtender(tif);
}
void InitializeTags() {
  static std::once_flag once;
  std::call_once(once, [] { PreviousExtender = TIFFSetTagExtender(RegisterTags); });
}

tsize_t ReadProc(thandle_t h, tdata_t data, tsize_t size) {
  auto* f = static_cast<TMemoryFile*>(h);
  const size_t n = f->Position >= f->size() ? 0 : std::min(static_cast<size_t>(size), f->size() - f->Position);
  std::memcpy(data, f->data() + f->Position, n);
  f->Position += n;
  return static_cast<tsize_t>(n);
}
tsize_t WriteProc(thandle_t h, tdata_t data, tsize_t size) {
  auto* f = static_cast<TMemoryFile*>(h);
  f->WriteAt(f->Position, data, static_cast<size_t>(size));
  f->Position += static_cast<size_t>(size);
  return size;
}
toff_t SeekProc(thandle_t h, toff_t offset, int whence) {
  auto* f = static_cast<TMemoryFile*>(h);
  const auto base = whence == SEEK_CUR ? f->Position : whence == SEEK_END ? f->size() : size_t{0};
  f->Position = base + static_cast<size_t>(offset);
  return f->Position;
}
int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t h) { return static_cast<TMemoryFile*>(h)->size(); }
int MapProc(thandle_t, tdata_t*, toff_t*) { return 0; }
void UnmapProc(thandle_t, tdata_t, toff_t) {}

// libtiff's complaints about one file, kept for the message.
int KeepError(TIFF*, void* user, const char*, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  auto* message = static_cast<std::string*>(user);
  if (message->empty()) *message = text;
  return 1;
}

}  // namespace

TIFF* OpenMemoryTiff(const std::string& name, TMemoryFile& file, std::string& error) {
  InitializeTags();
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, KeepError, &error);
  TIFFOpenOptionsSetWarningHandlerExtR(options, [](TIFF*, void*, const char*, const char*, va_list) { return 1; },
                                       nullptr);
  TIFF* tif = TIFFClientOpenExt(name.c_str(), "w", &file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc, MapProc,
                                UnmapProc, options);
  TIFFOpenOptionsFree(options);
  return tif;
}

}  // namespace veloran
