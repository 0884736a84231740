// Tests that read regf hives skip in a build without libhivex (the Windows
// cross build): hive files are then refused with a message of their own.
#pragma once

#include <gtest/gtest.h>

#ifdef ORBEL_HAVE_HIVEX
#define ORBEL_SKIP_WITHOUT_HIVEX() static_cast<void>(0)
#else
#define ORBEL_SKIP_WITHOUT_HIVEX() \
  GTEST_SKIP() << "reading hive files needs libhivex, which this build lacks"
#endif
