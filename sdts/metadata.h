// The eight metadata module readers. Each opens its module, takes the values
// the conversion needs into the state's TSdtsInfo (and the grid's row and
// column counts), and closes the file on every path.
#pragma once

#include "sdts/sdtsinfo.h"

namespace veloran {

void ReadDdsh(TConversionState& state);
void ReadIden(TConversionState& state);
void ReadDdom(TConversionState& state);
void ReadIref(TConversionState& state);
void ReadXref(TConversionState& state);
void ReadRsdf(TConversionState& state);
void ReadSpdm(TConversionState& state);
void ReadLdef(TConversionState& state);

}  // namespace veloran
