#pragma once
#include <string>

// Search for free TCP ports. FindFreePort only probes; ReserveFreePort also
// keeps the port away from every other search of this process until it is
// released, so two pulls or a pull and an engine listener that search at the
// same moment never get the same port.

// The first port in [first, first + 1000) that can be bound on all local
// IPv4 addresses, or 0 when none can. The port is free again on return.
int FindFreePort(int first);

// As FindFreePort, skipping ports reserved in this process, and reserves the
// port found for owner (a pull id, or 0 for a listener). 0 when none is free.
int ReserveFreePort(int first, int owner = 0);

// Binds an already reserved port to its owner (a pull learns its id only
// after the port was found).
void SetPortOwner(int port, int owner);

void ReleasePort(int port);
// Releases every port reserved for owner (owner > 0); gives how many.
int ReleasePortsOf(int owner);

bool IsPortReserved(int port);

// Finds a port from first as ReserveFreePort does, but keeps the listening
// socket it bound there (backlog 64 on address, empty: all local addresses),
// so no other program can take the port before it is served. Gives the
// socket and sets *port, or -1 when no port in the range can be listened on.
int ReserveListeningSocket(int first, const std::string& address, int* port);
