// A program of its own for FtpClientTest: starts a client's connect to the
// host and port given, destroys the client after the milliseconds given,
// while the connect still waits, and ends. It prints how long destroying
// the client took ("destroyed in N ms"), and "called back" if the
// connect's callback ever ran (it must not: the client went first).
#include "net/FtpClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <string>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s HOST PORT MILLISECONDS\n", argv[0]);
        return 64;
    }
    auto client = std::make_unique<velth::FtpClient>();
    velth::FtpServerData server;
    server.host = argv[1];
    server.port = std::stoi(argv[2]);
    client->setServer(server);
    client->connectToHost([](const velth::FtpResult&) { std::printf("called back\n"); });
    QTimer::singleShot(std::stoi(argv[3]), [&client] {
        QElapsedTimer timer;
        timer.start();
        client.reset();
        std::printf("destroyed in %lld ms\n", static_cast<long long>(timer.elapsed()));
        std::fflush(stdout);
        QCoreApplication::quit();
    });
    return app.exec();
}
