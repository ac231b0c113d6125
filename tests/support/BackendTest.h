#pragma once

#include "tests/support/TestDatabase.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace velmora::test {

// A GoogleTest fixture whose cases run on both backends (VELMORA_INSTANTIATE_FOR_BACKENDS): each case gets an
// empty database of its own on its backend, and is skipped on the server when there is none.
class BackendTest : public ::testing::TestWithParam<TestBackend>
{
protected:
    void SetUp() final
    {
        if (const std::string why = skipReason(GetParam()); !why.empty())
            GTEST_SKIP() << why;
        db = std::make_unique<TestDatabase>(GetParam());
        prepare();
    }

    // What a fixture adds once the database is there (tables, rows, a connection).
    virtual void prepare() {}

    bool onServer() const { return GetParam() == TestBackend::Server; }

    std::unique_ptr<TestDatabase> db; // a base member: it outlives whatever the fixture connects to it
};

// A GoogleTest fixture for what only the server does: a database of its own on the test server, or the case
// skipped when there is none.
class ServerTest : public ::testing::Test
{
protected:
    void SetUp() final
    {
        if (const std::string why = skipReason(TestBackend::Server); !why.empty())
            GTEST_SKIP() << why;
        db = std::make_unique<TestDatabase>(TestBackend::Server);
        prepare();
    }

    virtual void prepare() {}

    std::unique_ptr<TestDatabase> db;
};

} // namespace velmora::test
