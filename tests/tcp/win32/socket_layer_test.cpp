// What only the Winsock layer does: the system's texts, carried into UTF-8
// and without the line end of the message table, and a connect that the
// link's end cuts short even when the connection is already on its way.
#include "socket_layer.h"

#include <gtest/gtest.h>
#include <winsock2.h>

#include "loopback_peer.h"

TEST(WinsockLayerTest, ErrorTextsAreTheSystemsOwnOnOneLine) {
    for (const int32_t code : {WSAECONNREFUSED, WSAECONNRESET, WSAHOST_NOT_FOUND}) {
        const std::string text = SocketErrorText({SocketFault::kFailed, code});
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.find("Socket error"), std::string::npos) << text;
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
        EXPECT_NE(text.back(), ' ') << text;
    }
    // No text for no error, nor for a number the system does not know.
    EXPECT_EQ(SocketErrorText({SocketFault::kFailed, 0}), "Socket error 0");
    EXPECT_EQ(SocketErrorText({SocketFault::kFailed, 0x7FFF1234}), "Socket error 2147422772");

    // The resolver's failures read from the same table; a name beyond ASCII
    // is looked up as such, not garbled through a code page.
    std::string error;
    EXPECT_FALSE(ResolveIPv4("\xEC\x9E\xA5\xEC\xB9\x98.invalid", nullptr, &error));
    EXPECT_EQ(error.find("Socket error"), std::string::npos) << error;
}

TEST(WinsockLayerTest, LinksEndWinsOverAConnectAndLeavesTheSocketUsable) {
    uint16_t port = 0;
    SocketHandle listener = ListenLoopback(&port);
    Ipv4Endpoint to = {{0x7F000001u}, port};
    CStopEvent stop;
    ASSERT_TRUE(stop.Create());
    SocketError error;
    SocketHandle socket = OpenTcpSocket(&error);
    ASSERT_NE(socket, kNoSocket);
    stop.Signal();
    EXPECT_EQ(ConnectSocket(socket, to, stop).fault, SocketFault::kCancelled);
    CloseSocket(socket);
    // The system may have made that connection all the same: a fresh listener.
    ClosePeer(listener);
    listener = ListenLoopback(&to.port);

    // Without the stop the connection stands, blocking again for the workers:
    // a receive waits for the peer's bytes instead of failing at once.
    const CStopEvent idle;
    socket = OpenTcpSocket(&error);
    ASSERT_EQ(ConnectSocket(socket, to, idle).fault, SocketFault::kNone);
    EXPECT_EQ(ConnectSocket(socket, to, idle).fault, SocketFault::kAlreadyConnected);
    const SocketHandle peer = AcceptPeer(listener);
    ASSERT_EQ(WritePeer(peer, "ok", 2), 2);
    char got[8] = {};
    EXPECT_EQ(ReceiveSocket(socket, got, sizeof got, &error), 2);
    EXPECT_STREQ(got, "ok");
    ClosePeer(peer);
    EXPECT_EQ(ReceiveSocket(socket, got, sizeof got, &error), 0);
    CloseSocket(socket);
    ClosePeer(listener);
}
