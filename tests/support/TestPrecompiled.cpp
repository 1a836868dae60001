// The owner of the test programs' precompiled header: a test program of no
// tests of its own, built only so that the others can reuse its header.
#include "TestPrecompiled.h"
