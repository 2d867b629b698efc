// One conversion from a chosen cell module file to a DEM file, and the DEM
// name proposed for it. Used by the desktop program and the command line.
#pragma once

#include <string>

#include "convert/formats.h"
#include "sdts/sdtsinfo.h"
#include "support/progress.h"

namespace veloran {

// The transfer's IDEN title followed by ".dem", or New.dem without a title.
// The name is a plain visible file name: control characters, slashes and
// leading dots of the title become "_", and a very long title is cut so
// that the name, with " (NN)" added, stays within 255 bytes.
// The transfer is read from `source`.
std::string MakeDefaultDemName(const std::string& cellPath, const ITransferSource& source = DiskFiles());

// A text as a plain visible file name, as the title in MakeDefaultDemName.
std::string PlainFileName(std::string text);

// Starts `state` afresh (TConversionState::Reset), then reads the eight metadata modules and the cell
// module of the transfer whose cell file is `cellPath`; the progress runs to
// 50. Fails when the grid has no elevations or more cells than were read.
void ReadSdtsTransfer(TConversionState& state, const std::string& cellPath, IProgress& progress,
                      const ITransferSource& source = DiskFiles());

// Reads the transfer into a fresh `state`, lists the report in the pane and
// writes the DEM. A failure ends the conversion with its message; the DEM
// path is never left holding a partial file, and a file of the transfer is
// never written over. `sync` makes the DEM durable before this returns.
// `format` decides the file written (the USGS DEM by default); the report
// and the summary are the same for every format.
void ConvertSdtsToDem(TConversionState& state, const std::string& cellPath, const std::string& demPath,
                      bool addNewLines, IInfoPane& pane, bool sync = true, const ITransferSource& source = DiskFiles(),
                      const TOutputFormat& format = DemFormat(), bool backgroundWrite = true);

// The 11 summary lines of the DEM just written.
void ShowOutputSummary(const TConversionState& state, const TGridTotals& totals, IInfoPane& pane);
// The 12 summary lines of a GeoTIFF (named as `kind`) of `levels` levels:
// its extremes in the transfer's own units, its cells without data, its
// size and the quadrangle.
void ShowGeoTiffSummary(const TConversionState& state, const std::string& kind, int levels, IInfoPane& pane);

// Fails with "Cannot create file %s: ..." when `outputPath` is a file of
// the transfer whose cell file is `cellPath`, or the archive it comes from:
// for outputs besides the DEM, checked before anything is written.
void CheckNotTransferOutput(const std::string& cellPath, const std::string& outputPath,
                            const ITransferSource& source = DiskFiles());

// The 32 report lines describing the transfer just read.
void ShowSdtsInfo(const TConversionState& state, IInfoPane& pane);

}  // namespace veloran
