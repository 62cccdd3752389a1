#pragma once
// The engine program's life as a COM server: the class object of the transcoding engine, and the
// count of live objects and server locks that ends the program when it drops to zero.

#include <windows.h>

namespace fluxmere::engine {

// Registers the class object (multiple use, any client), waits until the last object and lock
// are gone (or until no client came within the start-up wait), revokes it. The caller has
// initialised COM for the multi-threaded apartment.
int ServeClassObject();

// Every engine object and server lock counts while it lives.
void ServerObjectCreated();
void ServerObjectDestroyed();

}  // namespace fluxmere::engine
