#!/usr/bin/python3
"""rasterio, a GDAL client of its own, reads the real transfers through the
SDTSDEM plugin, on disk and through /vsitar/, as the native program's
GeoTIFF holds them: every cell, georeference, coordinate system, no data.

usage: clients.py PLUGIN_DIR VELORAN_CONVERT DATA_DIR"""
import os
import subprocess
import sys
import tarfile
import tempfile

plugins, convert, data = sys.argv[1:4]
os.environ["GDAL_DRIVER_PATH"] = plugins
import numpy  # noqa: E402
import rasterio  # noqa: E402

failures = []
with tempfile.TemporaryDirectory() as tmp:
    for folder in sorted(os.listdir(data)):
        catd = next(n for n in os.listdir(os.path.join(data, folder)) if n.upper().endswith("CATD.DDF"))
        tif, archive = os.path.join(tmp, folder + ".tif"), os.path.join(tmp, folder + ".tar.gz")
        subprocess.run([convert, "-q", "--format=gtiff", "-o", tif, os.path.join(data, folder, catd)], check=True)
        with tarfile.open(archive, "w:gz") as tar:
            tar.add(os.path.join(data, folder), arcname=folder)
        for where in (os.path.join(data, folder, catd), "/vsitar/%s/%s/%s" % (archive, folder, catd)):
            with rasterio.open(where) as r, rasterio.open(tif) as t:
                for what, ok in (("driver", r.driver == "SDTSDEM"), ("cells", numpy.array_equal(r.read(1), t.read(1))),
                                 ("crs", r.crs == t.crs), ("transform", r.transform.almost_equals(t.transform)),
                                 ("nodata", r.nodata == t.nodata == -32767)):
                    if not ok:
                        failures.append("%s: %s" % (where, what))
for failure in failures:
    print("FAILED:", failure)
print("rasterio %s on GDAL %s: %d checks failed" % (rasterio.__version__, rasterio.__gdal_version__, len(failures)))
sys.exit(1 if failures else 0)
