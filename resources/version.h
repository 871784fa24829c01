// The version both programs carry (qvSetup.exe and qvpack.exe): change it
// here only. Kept free of anything but the preprocessor so that the
// resource compiler, the programs and scripts/release.sh can all read it.
#pragma once

#define QV_VERSION_MAJOR 1
#define QV_VERSION_MINOR 0
#define QV_VERSION_PATCH 0
#define QV_VERSION_TEXT "1.0.0"
#define QV_PRODUCT_NAME "qvSetup"
