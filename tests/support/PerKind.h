#pragma once

// Running a fixture's tests once per connection kind.

#include "support/FtpServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace velth::test {

// A fixture whose tests run once per connection kind: every server a test
// starts is of the parameter's kind (FtpServer::Options::defaultKind).
template <class Fixture>
class PerKind : public Fixture, public ::testing::WithParamInterface<ConnectionKind>
{
protected:
    void SetUp() override
    {
        FtpServer::Options::defaultKind = this->GetParam();
        Fixture::SetUp();
    }
    void TearDown() override
    {
        Fixture::TearDown();
        FtpServer::Options::defaultKind = ConnectionKind::FtpActive;
    }
    ConnectionKind kind() const { return this->GetParam(); }
    bool sftp() const { return kind() == ConnectionKind::Sftp; }
};

// Test names per kind ("ftpactive", "sftp").
inline std::string kindName(const ::testing::TestParamInfo<ConnectionKind>& info)
{
    std::string name(connectionKindValue(info.param));
    name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
    return name;
}

#define VELTH_INSTANTIATE_PER_KIND(Fixture) \
    INSTANTIATE_TEST_SUITE_P(Kinds, Fixture, ::testing::ValuesIn(::velth::kConnectionKinds), ::velth::test::kindName)

} // namespace velth::test
