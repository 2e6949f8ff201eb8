// The static library's module, set up on the test executable (which carries the resources).
#include <gtest/gtest.h>

#include "server/module.h"

namespace {

class LibraryModule : public ::testing::Environment {
public:
    void SetUp() override {
        kestrune::Module().Initialize(GetModuleHandleW(nullptr), kestrune::LibraryClassTable());
        CoInitialize(nullptr);
    }
    void TearDown() override {
        kestrune::Module().Shutdown();
        CoUninitialize();
    }
};

const auto* registered = ::testing::AddGlobalTestEnvironment(new LibraryModule);

} // namespace
