"""GDAL reads a GeoTIFF of Veloran's as its SDTS driver reads the source.

Usage: compare_geotiff.py CATD_MODULE GEOTIFF
Prints one line: "same: ..." when the size, the geotransform (within 1e-9),
the EPSG code, the cell type and every cell agree (reals bit for bit, the
transfer's void and fill as no data), else what differs; exit status 1 then.
"""
import struct
import sys

from osgeo import gdal, osr

gdal.UseExceptions()
sdts = gdal.Open(sys.argv[1])
tiff = gdal.Open(sys.argv[2])
problems = []
if (sdts.RasterXSize, sdts.RasterYSize) != (tiff.RasterXSize, tiff.RasterYSize):
    problems.append(f"size {tiff.RasterXSize}x{tiff.RasterYSize}, source {sdts.RasterXSize}x{sdts.RasterYSize}")
if any(abs(a - b) > 1e-9 for a, b in zip(sdts.GetGeoTransform(), tiff.GetGeoTransform())):
    problems.append(f"geotransform {tiff.GetGeoTransform()}, source {sdts.GetGeoTransform()}")
srs = osr.SpatialReference(wkt=tiff.GetProjection())
srs.AutoIdentifyEPSG()
source = osr.SpatialReference(wkt=sdts.GetProjection())
epsg = srs.GetAuthorityCode(None)
if not epsg or not srs.IsSame(source, ["IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES", "CRITERION=EQUIVALENT"]):
    problems.append(f"coordinate system EPSG {epsg}, not the source's")
a, b = sdts.GetRasterBand(1), tiff.GetRasterBand(1)
if a.DataType != b.DataType:
    problems.append(f"type {gdal.GetDataTypeName(b.DataType)}, source {gdal.GetDataTypeName(a.DataType)}")
if b.GetNoDataValue() != -32767:
    problems.append(f"no data {b.GetNoDataValue()}")
fmt = "f" if a.DataType == gdal.GDT_Float32 else "h"
count = sdts.RasterXSize * sdts.RasterYSize
src = struct.unpack(f"{count}{fmt}", a.ReadRaster(buf_type=a.DataType))
out = struct.unpack(f"{count}{fmt}", b.ReadRaster(buf_type=a.DataType))
voids = wrong = 0
for s, o in zip(src, out):
    if s < -32765:
        voids += 1
        wrong += o != -32767
    elif struct.pack(fmt, s) != struct.pack(fmt, o):
        wrong += 1
if wrong:
    problems.append(f"{wrong} cells differ")
if problems:
    print("; ".join(problems))
    sys.exit(1)
print(f"same: {count - voids} elevations, {voids} no data, EPSG {epsg}, {gdal.GetDataTypeName(b.DataType)}")
