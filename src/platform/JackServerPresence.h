#pragma once

namespace sonrigo {

// Whether a JACK server may be running for this user, told without calling
// libjack: jackd2 listens on a socket named after the server (the name in
// JACK_DEFAULT_SERVER, or "default") in /dev/shm.
//
// Asking libjack instead opens the metadata database that every JACK
// process shares (/dev/shm/jack_db-UID); a JACK process killed while holding
// one of its locks leaves it locked, and every later jack_client_open blocks
// forever, even when no server runs. A player must start on such a machine,
// so libjack is called only when the socket is there. When
// JACK_PROMISCUOUS_SERVER is set the socket's owner cannot be told, and this
// answers true.
bool JackServerMayBeRunning();

}  // namespace sonrigo
