// The yardstick for ZELMO's start-up and memory: the least a Qt Widgets program that shows
// one window and listens for calls can be. Benchmarks run it beside ZELMO in the same run,
// because absolute times differ from machine to machine by a factor of two.
//
//   bare_listener --port N

#include <QApplication>
#include <QCommandLineParser>
#include <QHostAddress>
#include <QLabel>
#include <QMainWindow>
#include <QTcpServer>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("port"), QStringLiteral("listening port"), QStringLiteral("port")});
    parser.process(app);
    QMainWindow window;
    window.setCentralWidget(new QLabel(QStringLiteral("Ready"), &window));
    window.resize(320, 240);
    window.show();
    QTcpServer server;
    if (!server.listen(QHostAddress::Any, quint16(parser.value(QStringLiteral("port")).toUInt())))
        return 1;
    return app.exec();
}
