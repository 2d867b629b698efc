// Writes whole synthetic SDTS raster transfers for tests, module by module,
// with the ISO 8211 test writer.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "samplegen/ddf_writer.h"

namespace veloran::testing {

struct TTransferSpec {
  std::string Prefix = "1234";
  std::string Unit = "METERS";
  std::string Fmt = "BI16";
  std::string Title = "TEST QUAD";
  std::string DataId = "DAID-1";
  std::string DataDate = "19990101";
  std::string Scale = "24000";
  std::vector<std::pair<int, std::string>> Domain = {{1, "-32767"}, {2, "-32766"}, {3, "100"}, {4, "2000"}};
  std::string Sfax = "1.0", Sfay = "1.0", Xorg = "0.0", Yorg = "0.0", Xhrs = "30.0", Yhrs = "30.0";
  std::string Rsnm = "UTM", Zone = "10", Hdat = "NAS";
  bool BinarySadr = false;
  std::string SadrX = "600000.0", SadrY = "5000000.0";  // text form
  int32_t BinSadrX = 0, BinSadrY = 0;                    // binary form
  std::vector<std::string> Corners = {"599985", "4999895", "599985", "5000015",
                                      "600105", "5000015", "600105", "4999895"};  // SW NW NE SE
  std::string Nrow = "-", Ncol = "-";  // "-": the size of Rows (or FloatRows)
  // One CVLS field per record; for BFP32 transfers use FloatRows.
  std::vector<std::vector<int16_t>> Rows = {{10, 20, 30, 40}, {11, 21, 31, 41}, {12, 22, 32, 42}, {13, 23, 33, 43}};
  std::vector<std::vector<float>> FloatRows;
  bool RepeatRecords = false;  // one "R" record, then leaderless records
  // Each record's CELL ROWI, as text; empty: the records' order from 1.
  std::vector<std::string> RowNumbers;
  std::string FirstColumn = "000001";  // every record's CELL COLI
  bool LowerCaseNames = false;
  bool Catalog = true;  // a CATD module listing the others, as GDAL needs
  int CatalogPadding = 0;              // records listing other modules (DQ01, DQ02...) before those of the transfer
  bool LowerCaseCatalogNames = false;  // module codes (NAME) in lower case
  // Modules whose files are named otherwise than Prefix + code + ".DDF",
  // by code: only the catalog then tells where they are.
  std::map<std::string, std::string> FileNames;
};

// Writes the nine modules into `dir` and returns the cell module's path.
std::string WriteTransfer(const std::string& dir, const TTransferSpec& spec);
// The path a module of the transfer is written to.
std::string ModulePath(const std::string& dir, const TTransferSpec& spec, const std::string& code);

// A temporary directory, removed with its files.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& Path() const { return DirPath; }
  std::string operator/(const std::string& name) const { return DirPath + "/" + name; }

 private:
  std::string DirPath;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace veloran::testing
