// The version of qvSetup and its tools, in one place: the about box, the
// version resources and qvpack --version read it. Plain defines, so the
// resource compiler can read it too.
#pragma once

#define QV_VERSION_MAJOR 1
#define QV_VERSION_MINOR 0
#define QV_VERSION_PATCH 0
#define QV_VERSION_TEXT "1.0.0"
