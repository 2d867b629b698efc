#include "fuzz/harness.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "convert/driver.h"
#include "iso8211/subfields.h"
#include "support/errors.h"
#include "samplegen/sample.h"

namespace veloran {

namespace {

// Every lookup the readers make, over every tag and label the file describes.
void LookUpEverything(TStream& stream, const TDataDescription& d) {
  const int fields = StoredCount(d.Directory.Count);
  for (int f = 0; f < fields; ++f) {
    const std::string& tag = d.Directory.Items[static_cast<size_t>(f)].Tag;
    GetFormatControls(tag, d);
    TFieldArray labels;
    SplitArrayDescriptor(d.DescriptArea.Items[static_cast<size_t>(f)].ArrayDescriptor, labels);
    for (int l = 0; l < StoredCount(labels.Count); ++l) {
      const std::string& label = labels.Items[static_cast<size_t>(l)].Label;
      for (int r = -1; r <= d.Records.Count; ++r) {
        GetSubfieldText(stream, tag, label, r, d);
        GetSubfieldInt(stream, tag, label, r, d);
        GetSubfieldReal(stream, tag, label, r, d, '.');
        GetSubfieldBinInt(stream, tag, label, 4, r, d);
        TStringArray values;
        GetSubfieldValues(stream, tag, label, r, d, values);
      }
    }
  }
}

const char* const kModules[] = {"DDSH", "IDEN", "DDOM", "IREF", "XREF", "RSDF", "SPDM", "LDEF", "CEL0"};

// A private directory holding the small sample transfer, made once.
struct TWorkspace {
  std::string Dir;
  std::map<std::string, std::string> Originals;  // module code to bytes
  std::unique_ptr<TConversionState> State = std::make_unique<TConversionState>();

  TWorkspace() {
    std::string pattern = (std::filesystem::temp_directory_path() / "veloran-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    Dir = pattern;
    testing::WriteTransfer(Dir, testing::MakeSample("small"));
    for (const char* code : kModules) {
      std::ifstream in(Dir + "/1234" + code + ".DDF", std::ios::binary);
      Originals[code] = std::string(std::istreambuf_iterator<char>(in), {});
    }
  }
  ~TWorkspace() {
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }
  void Put(const std::string& code, const std::string& bytes) const {
    std::ofstream out(Dir + "/1234" + code + ".DDF", std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
};

}  // namespace

void FuzzDdf(const uint8_t* data, size_t size) {
  TMemoryStream stream(std::string(reinterpret_cast<const char*>(data), size));
  TDataDescription description;
  try {
    ReadDataDescription(stream, description, 20);
  } catch (const TConvertError&) {
    return;
  }
  try {
    LookUpEverything(stream, description);
  } catch (const TConvertError&) {
  }
}

void FuzzTransfer(const uint8_t* data, size_t size) {
  static const TWorkspace workspace;
  if (size == 0) return;
  const std::string code = kModules[data[0] % std::size(kModules)];
  workspace.Put(code, std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  TNullPane pane;
  try {
    TLocatedTransfer transfer = LocateTransfer(workspace.Dir + "/1234CEL0.DDF");
    DefaultName(transfer, DemFormat());
    // No fsync: the fuzzer's speed is in runs per second.
    ConvertTransfer(*workspace.State, transfer, workspace.Dir + "/out.dem", TRequest{&DemFormat(), data[0] >= 128, false},
                    pane);
  } catch (const TConvertError&) {
  }
  workspace.Put(code, workspace.Originals.at(code));
}

}  // namespace veloran
