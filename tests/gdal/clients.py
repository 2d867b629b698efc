#!/usr/bin/python3
"""GDAL's clients read transfers through the SDTSDEM plugin as the native
program's GeoTIFF holds them: GDAL's Python bindings and rasterio, on disk
and through /vsitar/, every cell, the georeference, the coordinate system
and the no-data value.

usage: clients.py PLUGIN_DIR VELORAN_CONVERT DATA_DIR"""
import os
import subprocess
import sys
import tarfile
import tempfile

plugins, convert, data = sys.argv[1:4]
os.environ["GDAL_DRIVER_PATH"] = plugins

import numpy  # noqa: E402
from osgeo import gdal  # noqa: E402

gdal.UseExceptions()
try:
    import rasterio
except ImportError:
    rasterio = None

failures = []


def check(what, ok):
    if not ok:
        failures.append(what)


def same_raster(name, ours, tiff):
    check(name + ": size", (ours.RasterXSize, ours.RasterYSize) == (tiff.RasterXSize, tiff.RasterYSize))
    check(name + ": geotransform", numpy.allclose(ours.GetGeoTransform(), tiff.GetGeoTransform(), atol=1e-9))
    check(name + ": coordinate system", ours.GetSpatialRef().IsSame(tiff.GetSpatialRef()))
    a, b = ours.GetRasterBand(1), tiff.GetRasterBand(1)
    check(name + ": no data", a.GetNoDataValue() == b.GetNoDataValue() == -32767)
    check(name + ": type", a.DataType == b.DataType)
    check(name + ": cells", numpy.array_equal(a.ReadAsArray(), b.ReadAsArray()))


with tempfile.TemporaryDirectory() as tmp:
    for folder in sorted(os.listdir(data)):
        path = os.path.join(data, folder)
        catd = [n for n in os.listdir(path) if n.upper().endswith("CATD.DDF")][0]
        tif = os.path.join(tmp, folder + ".tif")
        subprocess.run([convert, "-q", "--format=gtiff", "-o", tif, os.path.join(path, catd)], check=True)
        tiff = gdal.Open(tif)
        archive = os.path.join(tmp, folder + ".tar.gz")
        with tarfile.open(archive, "w:gz") as tar:
            tar.add(path, arcname=folder)
        for where in (os.path.join(path, catd), "/vsitar/" + archive + "/" + folder + "/" + catd):
            ours = gdal.Open(where)
            check(where + ": opened by SDTSDEM", ours.GetDriver().ShortName == "SDTSDEM")
            same_raster(where, ours, tiff)
            if rasterio:
                with rasterio.open(where) as r, rasterio.open(tif) as t:
                    check(where + ": rasterio driver", r.driver == "SDTSDEM")
                    check(where + ": rasterio cells", numpy.array_equal(r.read(1), t.read(1)))
                    check(where + ": rasterio crs", r.crs == t.crs)
                    check(where + ": rasterio transform", r.transform.almost_equals(t.transform))
                    check(where + ": rasterio nodata", r.nodata == t.nodata == -32767)

for failure in failures:
    print("FAILED:", failure)
print("GDAL %s, rasterio %s: %d checks failed" % (gdal.__version__, rasterio.__version__ if rasterio else "absent",
                                                   len(failures)))
sys.exit(1 if failures else 0)
