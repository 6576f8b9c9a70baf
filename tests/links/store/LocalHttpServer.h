#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <functional>

// A small HTTP/1.1 server on 127.0.0.1 for the link check's tests: each path
// answers as its route says, after an optional delay, one request per
// connection. It counts the requests of each path and the most requests it
// held at once.
class TLocalHttpServer
{
public:
    struct TAnswer
    {
        int Status = 200;
        QByteArray Body;
        QByteArray ContentType = "text/html; charset=utf-8";
        QByteArray Location;
        int DelayMs = 0;
        int DripMs = 0; // the body never ends: a byte every so often
    };
    static TAnswer Reply(int status, const QByteArray& body, const QByteArray& type = "text/html; charset=utf-8",
                         int delayMs = 0)
    {
        TAnswer answer;
        answer.Status = status;
        answer.Body = body;
        answer.ContentType = type;
        answer.DelayMs = delayMs;
        return answer;
    }
    // The answer to one request: its method ("HEAD", "GET") and how many
    // requests of this path came before it.
    using TRoute = std::function<TAnswer(const QByteArray& method, int before)>;

    TLocalHttpServer() { m_server.listen(QHostAddress::LocalHost, 0); }

    void Route(const QByteArray& path, TRoute route) { m_routes.insert(path, std::move(route)); }
    void Route(const QByteArray& path, const TAnswer& answer)
    {
        m_routes.insert(path, [answer](const QByteArray&, int) { return answer; });
    }
    QString Url(const QString& path) const
    {
        return QString("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }
    int Requests(const QByteArray& path) const { return m_counts.value(path); }
    int MostAtOnce() const { return m_mostAtOnce; }

    // Starts serving: call once the routes are set.
    void Serve()
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                Accept(socket);
        });
    }

private:
    void Accept(QTcpSocket* socket)
    {
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            QByteArray& buffer = m_buffers[socket];
            buffer += socket->readAll();
            if (!buffer.contains("\r\n\r\n"))
                return;
            const QList<QByteArray> words = buffer.left(buffer.indexOf("\r\n")).split(' ');
            m_buffers.remove(socket);
            if (words.size() < 2)
                return;
            Answer(socket, words[0], QUrl(QString::fromLatin1(words[1])).path().toLatin1());
        });
    }

    void Answer(QTcpSocket* socket, const QByteArray& method, const QByteArray& path)
    {
        const int before = m_counts[path]++;
        const auto route = m_routes.find(path);
        const TAnswer answer =
            route != m_routes.end() ? (*route)(method, before) : Reply(404, "<title>Not Found</title>");
        m_mostAtOnce = std::max(m_mostAtOnce, ++m_atOnce);
        QPointer<QTcpSocket> alive(socket);
        QTimer::singleShot(answer.DelayMs, &m_server, [this, alive, method, answer] {
            --m_atOnce;
            if (!alive)
                return;
            QByteArray text = "HTTP/1.1 " + QByteArray::number(answer.Status) + " X\r\n";
            text += "Content-Type: " + answer.ContentType + "\r\n";
            if (!answer.Location.isEmpty())
                text += "Location: " + answer.Location + "\r\n";
            const qint64 length = answer.DripMs > 0 ? 1 << 30 : answer.Body.size();
            text += "Content-Length: " + QByteArray::number(length) + "\r\nConnection: close\r\n\r\n";
            if (method != "HEAD")
                text += answer.Body;
            alive->write(text);
            if (answer.DripMs <= 0 || method == "HEAD") {
                alive->disconnectFromHost();
                return;
            }
            auto* drip = new QTimer(alive);
            QObject::connect(drip, &QTimer::timeout, alive, [alive] { alive->write("x"); });
            drip->start(answer.DripMs);
        });
    }

    QTcpServer m_server;
    QHash<QByteArray, TRoute> m_routes;
    QHash<QByteArray, int> m_counts;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    int m_atOnce = 0;
    int m_mostAtOnce = 0;
};
