// TestPrecompiled.h - the headers that nearly every test program parses:
// GoogleTest, GoogleMock and the standard library parts tests use most.
// Compiled once per build into a precompiled header that every test program
// reuses (cmake/QirTesting.cmake); a test source still includes what it uses.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>
