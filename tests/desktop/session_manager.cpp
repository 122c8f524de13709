// A session manager for one client, over the real XSMP (libSM), driven from standard input:
//   checkpoint  the session is saved and goes on          -> "saved"
//   cancel      a logout that the user then cancels        -> "cancelled"
//   logout      the session ends: save, then die           -> "gone" once the client hangs up
// The first line printed is the address for SESSION_MANAGER; "registered" follows when the
// client has connected.
#include <X11/SM/SMlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <vector>

namespace {
SmsConn client = nullptr;
IceConn clientIce = nullptr;
bool registered = false;
bool saveDone = false;

void say(const char *line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

// Only clients on this machine's local socket.
Bool localOnly(char *hostName) {
    return std::strncmp(hostName, "local/", 6) == 0;
}

Status registerClient(SmsConn connection, SmPointer, char *) {
    char *id = SmsGenerateClientID(connection);
    SmsRegisterClientReply(connection, id);
    free(id);
    registered = true;
    say("registered");
    return 1;
}
void closeConnection(SmsConn connection, SmPointer, int, char **) {
    IceConn ice = SmsGetIceConnection(connection);
    SmsCleanUp(connection);
    IceSetShutdownNegotiation(ice, False);
    IceCloseConnection(ice);
    client = nullptr;
    clientIce = nullptr;
}
Status newClient(SmsConn connection, SmPointer, unsigned long *mask, SmsCallbacks *callbacks,
                 char **) {
    client = connection;
    *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
            SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask |
            SmsSaveYourselfDoneProcMask | SmsCloseConnectionProcMask | SmsSetPropertiesProcMask |
            SmsDeletePropertiesProcMask | SmsGetPropertiesProcMask;
    callbacks->register_client.callback = registerClient;
    callbacks->interact_request.callback = [](SmsConn c, SmPointer, int) {
        SmsInteract(c);
    };
    callbacks->interact_done.callback = [](SmsConn, SmPointer, Bool) {
    };
    callbacks->save_yourself_request.callback = [](SmsConn, SmPointer, int, Bool, int, Bool, Bool) {
    };
    callbacks->save_yourself_phase2_request.callback = [](SmsConn, SmPointer) {
    };
    callbacks->save_yourself_done.callback = [](SmsConn, SmPointer, Bool) {
        saveDone = true;
    };
    callbacks->close_connection.callback = closeConnection;
    // A client that lives for seconds: what it sends is dropped, not freed.
    callbacks->set_properties.callback = [](SmsConn, SmPointer, int, SmProp **) {
    };
    callbacks->delete_properties.callback = [](SmsConn, SmPointer, int, char **) {
    };
    callbacks->get_properties.callback = [](SmsConn c, SmPointer) {
        SmsReturnProperties(c, 0, nullptr);
    };
    return 1;
}

// Runs ICE until `done` holds or the client hangs up; false after 20 s without it.
template <typename Done> bool serve(const std::vector<IceListenObj> &listeners, Done done) {
    for (int round = 0; round < 200 && !done(); ++round) {
        std::vector<pollfd> fds;
        for (IceListenObj listener : listeners)
            fds.push_back({IceGetListenConnectionNumber(listener), POLLIN, 0});
        if (clientIce)
            fds.push_back({IceConnectionNumber(clientIce), POLLIN, 0});
        if (poll(fds.data(), fds.size(), 100) <= 0)
            continue;
        for (size_t i = 0; i < listeners.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            IceAcceptStatus status;
            IceConn ice = IceAcceptConnection(listeners[i], &status);
            if (!ice)
                continue;
            IceConnectStatus state;
            while ((state = IceConnectionStatus(ice)) == IceConnectPending)
                IceProcessMessages(ice, nullptr, nullptr);
            if (state == IceConnectAccepted)
                clientIce = ice;
            else
                IceCloseConnection(ice);
        }
        if (clientIce && (fds.back().revents & (POLLIN | POLLHUP)) &&
            IceProcessMessages(clientIce, nullptr, nullptr) == IceProcessMessagesIOError)
            closeConnection(client, nullptr, 0, nullptr);
    }
    return done();
}
} // namespace

int main() {
    char error[256];
    if (!SmsInitialize("zentrel-test", "1", newClient, nullptr, localOnly, sizeof error, error)) {
        std::fprintf(stderr, "SmsInitialize: %s\n", error);
        return 1;
    }
    int count = 0;
    IceListenObj *objects = nullptr;
    if (!IceListenForConnections(&count, &objects, sizeof error, error)) {
        std::fprintf(stderr, "IceListenForConnections: %s\n", error);
        return 1;
    }
    std::vector<IceListenObj> listeners;
    std::string address;
    for (int i = 0; i < count; ++i) {
        char *id = IceGetListenConnectionString(objects[i]);
        if (std::strncmp(id, "local/", 6) == 0) {
            IceSetHostBasedAuthProc(objects[i], localOnly);
            listeners.push_back(objects[i]);
            address += (address.empty() ? "" : ",") + std::string(id);
        }
        free(id);
    }
    say(address.c_str());
    if (listeners.empty() || !serve(listeners, [] { return registered; }))
        return 1;

    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        const std::string command(line, std::strcspn(line, "\n"));
        const bool shutdown = command != "checkpoint";
        saveDone = false;
        SmsSaveYourself(client, SmSaveBoth, shutdown, SmInteractStyleAny, False);
        if (!serve(listeners, [] { return saveDone || !client; }) || !client) {
            std::fprintf(stderr, "session manager: %s\n",
                         client ? "no SaveYourselfDone within 20 s" : "the client hung up");
            return 1;
        }
        if (command == "checkpoint") {
            SmsSaveComplete(client);
            say("saved");
        } else if (command == "cancel") {
            SmsShutdownCancelled(client);
            say("cancelled");
        } else {
            SmsDie(client);
            if (!serve(listeners, [] { return !client; }))
                return 1;
            say("gone");
        }
    }
    return 0;
}
