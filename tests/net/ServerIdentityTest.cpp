#include "net/ServerIdentity.h"

#include "common/Error.h"
#include "net/CurlConnection.h"
#include "support/FtpServer.h"
#include "support/PerKind.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <memory>

namespace velth {
namespace {

using test::FtpServer;
using test::TempDir;

// What OpenSSL's and OpenSSH's own tools say about a server's identity file,
// so the program's reading of it is checked against tools nobody here wrote.
std::string toolOutput(const QString& shellCommand)
{
    QProcess process;
    process.start(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), shellCommand });
    process.waitForFinished(30000);
    return process.readAllStandardOutput().trimmed().toStdString();
}

ServerIdentity identityByTools(const FtpServer& server)
{
    const QString file = QString::fromStdString(server.identity());
    if (server.kind() == ConnectionKind::Sftp) {
        // "256 SHA256:... no comment (ECDSA)"
        const std::string line = toolOutput(QStringLiteral("ssh-keygen -l -E sha256 -f '%1'").arg(file));
        const std::size_t from = line.find(' ') + 1;
        return { line.substr(from, line.find(' ', from) - from), {} };
    }
    const std::string fingerprint
        = toolOutput(QStringLiteral("openssl x509 -noout -fingerprint -sha256 -in '%1'").arg(file));
    const std::string pin = toolOutput(QStringLiteral("openssl x509 -noout -pubkey -in '%1' | openssl pkey -pubin "
                                                      "-outform der | openssl dgst -sha256 -binary | base64")
                                           .arg(file));
    return { fingerprint.substr(fingerprint.find('=') + 1), "sha256//" + pin };
}

struct Attempt
{
    CURLcode code = CURLE_OK;
    std::optional<IdentityProblem> problem;
};

// One login on a handle of its own, as a client's connect makes it.
Attempt connectOnce(const ConnectionTarget& target)
{
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), &curl_easy_cleanup);
    HostKeyCheck check;
    const std::string url
        = connectionUrl(target, target.kind == ConnectionKind::Sftp ? sftpPath({}, {}) : std::string()).value();
    curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
    applyConnectionKind(easy.get(), target, &check);
    curl_easy_setopt(easy.get(), CURLOPT_NOBODY, 1L);
    const auto prepare = [](CURL* probe) { curl_easy_setopt(probe, CURLOPT_CONNECTTIMEOUT, 20L); };
    prepare(easy.get());
    Attempt attempt;
    attempt.code = curl_easy_perform(easy.get());
    attempt.problem = identityProblem(attempt.code, easy.get(), target, check, prepare);
    return attempt;
}

class ServerIdentityTest : public ::testing::TestWithParam<ConnectionKind>
{
protected:
    FtpServer::Options options(const std::string& identity = {}, int port = 0) const
    {
        FtpServer::Options o = FtpServer::Options::local();
        o.kind = GetParam();
        o.identity = identity;
        o.port = port;
        return o;
    }

    ConnectionTarget target(const FtpServer& server) const
    {
        return { { GetParam(), server.host(), server.port(), server.user(), server.password() }, std::nullopt };
    }

    std::vector<std::string> logins(const FtpServer& server) const
    {
        return server.commands({ "USER", "PASS", "LOGIN" });
    }
};

// An unknown identity stops the connect before the login is sent and shows
// what the tools see; accepted, it connects; a server that comes back with
// another identity on the same address is refused as changed, again before
// any login.
TEST_P(ServerIdentityTest, UnknownAcceptedAndChanged)
{
    TempDir keys;
    auto server = std::make_unique<FtpServer>(options(keys.file("first")));
    const ServerIdentity byTools = identityByTools(*server);
    ASSERT_FALSE(byTools.fingerprint.empty());

    ConnectionTarget t = target(*server);
    Attempt unknown = connectOnce(t);
    EXPECT_NE(unknown.code, CURLE_OK);
    ASSERT_TRUE(unknown.problem);
    EXPECT_FALSE(unknown.problem->changed);
    EXPECT_EQ(unknown.problem->presented, byTools);
    EXPECT_EQ(logins(*server), std::vector<std::string>{});

    t.trusted = unknown.problem->presented;
    const Attempt accepted = connectOnce(t);
    EXPECT_EQ(accepted.code, CURLE_OK);
    EXPECT_FALSE(accepted.problem);
    EXPECT_FALSE(logins(*server).empty());

    const int port = server->port();
    server.reset();
    server = std::make_unique<FtpServer>(options(keys.file("second"), port));
    const Attempt changed = connectOnce(t);
    EXPECT_NE(changed.code, CURLE_OK);
    ASSERT_TRUE(changed.problem);
    EXPECT_TRUE(changed.problem->changed);
    EXPECT_EQ(changed.problem->presented, identityByTools(*server));
    EXPECT_NE(changed.problem->presented.fingerprint, byTools.fingerprint);
    EXPECT_EQ(logins(*server), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Kinds, ServerIdentityTest,
    ::testing::Values(ConnectionKind::FtpsExplicit, ConnectionKind::FtpsImplicit, ConnectionKind::Sftp),
    test::kindName);

// Bytes that are no certificate never yield a key, and the reader never
// looks past the bytes it was given.
TEST(CertificateReader, RefusesWhatIsNoCertificate)
{
    const std::string cases[] = {
        "", std::string("\x30", 1), std::string("\x30\x82\xff\xff", 4), // longer than the bytes
        std::string("\x30\x03\x02\x01\x00", 5), // no tbsCertificate
        std::string("\x30\x05\x30\x03\x02\x01\x00", 7), // tbsCertificate ends after the serial
        std::string("\x30\x85\x01\x02\x03\x04\x05", 7), // a five-byte length
        std::string("\x31\x02\x30\x00", 4), // a SET, not a SEQUENCE
    };
    for (const std::string& bytes : cases)
        EXPECT_EQ(subjectPublicKeyInfo(bytes), std::nullopt) << bytes.size();
    EXPECT_EQ(certificateFromPem("-----BEGIN CERTIFICATE-----\n!!!\n-----END CERTIFICATE-----\n"), std::nullopt);
    EXPECT_EQ(certificateFromPem("MIIB"), std::nullopt);
}

// Entries hold for their profile, kind of identity, host and port only; the
// file stays a profile-store-style INI file.
TEST(KnownFingerprintsFile, EntriesHoldForTheirProfileHostAndPort)
{
    TempDir dir;
    KnownFingerprints known(dir.file("fingerprints.ini"));
    const ServerIdentity tls{ "AB:CD", "sha256//pin=" };
    const ServerIdentity ssh{ "SHA256:key", {} };
    known.remember("Clan", ConnectionKind::FtpsExplicit, "ftp.example.net", 21, tls);
    known.remember("Clan", ConnectionKind::Sftp, "ftp.example.net", 22, ssh);
    EXPECT_EQ(known.find("clan", ConnectionKind::FtpsImplicit, "ftp.example.net", 21), tls);
    EXPECT_EQ(known.find("Clan", ConnectionKind::Sftp, "ftp.example.net", 22), ssh);
    EXPECT_EQ(known.find("Clan", ConnectionKind::Sftp, "ftp.example.net", 21), std::nullopt);
    EXPECT_EQ(known.find("Other", ConnectionKind::FtpsExplicit, "ftp.example.net", 21), std::nullopt);
    EXPECT_EQ(known.find("Clan", ConnectionKind::FtpsExplicit, "10.0.0.1", 21), std::nullopt);
    EXPECT_EQ(dir.read("fingerprints.ini"),
        "[Clan]\r\ntls://ftp.example.net:21=AB:CD sha256//pin=\r\nssh://ftp.example.net:22=SHA256:key\r\n");
    EXPECT_THROW(known.remember("Clan", ConnectionKind::Sftp, "a=b", 22, ssh), Error);
    // A TLS entry that lost its pin by hand cannot be checked, so it is unknown.
    dir.write("fingerprints.ini", "[Clan]\r\ntls://h:21=AB:CD\r\n");
    EXPECT_EQ(known.find("Clan", ConnectionKind::FtpsExplicit, "h", 21), std::nullopt);
}

} // namespace
} // namespace velth
