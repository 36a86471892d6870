#pragma once

#include "net/apiclient.h"
#include "net/authmanager.h"
#include "support/scriptedpeer.h"
#include "support/testenv.h"

#include <memory>

// The usual arrangement of a client test: a fresh settings store, a scripted loopback peer, and
// a session store and client that talk to it.
struct ScriptedClient
{
    std::unique_ptr<ScriptedPeer> peer;
    std::unique_ptr<AuthManager> auth;
    std::unique_ptr<ApiClient> api;

    bool start()
    {
        testenv::clearSettings();
        peer = std::make_unique<ScriptedPeer>();
        if (!peer->start())
            return false;
        qputenv("TAPTEMPEST_SERVER_URL", peer->url().toUtf8());
        auth = std::make_unique<AuthManager>();
        api = std::make_unique<ApiClient>();
        api->setAuthManager(auth.get());
        return true;
    }

    // The client goes first: it may still hold requests to the peer.
    void stop()
    {
        api.reset();
        auth.reset();
        peer.reset();
    }
};
