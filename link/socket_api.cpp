#include "socket_api.h"

#include <unistd.h>

const SocketApi &RealSockets() {
    static const SocketApi api = {::socket, ::connect, ::send, ::recv, ::shutdown, ::close};
    return api;
}
