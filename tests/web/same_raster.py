"""Prints "same" when GDAL reads two rasters alike: size, georeference,
coordinate system, no data and every cell; else what differs."""
import sys

from osgeo import gdal

gdal.UseExceptions()
a, b = (gdal.Open(p) for p in sys.argv[1:3])
ba, bb = a.GetRasterBand(1), b.GetRasterBand(1)
differs = [what for what, x, y in [
    ("size", (a.RasterXSize, a.RasterYSize), (b.RasterXSize, b.RasterYSize)),
    ("georeference", a.GetGeoTransform(), b.GetGeoTransform()),
    ("no data", ba.GetNoDataValue(), bb.GetNoDataValue()),
    ("cells", ba.ReadRaster(), bb.ReadRaster()),
] if x != y]
if not a.GetSpatialRef().IsSame(b.GetSpatialRef()):
    differs.append("coordinate system")
print(", ".join(differs) or "same")
