// The started server's hold on its client (POSIX): the client library gives the server, as
// descriptor 3, one end of a socket pair whose other end only the client holds, close-on-exec.
// The client's death and its exec() of another program both close that end, and the server sees
// a hang-up there from its first instruction on, with no question about who its parent is. The
// client writes kLifelineMark into the pair before the server starts; the server takes
// descriptor 3 for the lifeline only when the mark waits there (looked at, never read), so a
// descriptor that a shell or a build tool left open is never taken for one.
#pragma once

namespace conproxy_protocol {

constexpr int kLifelineDescriptor = 3;
constexpr char kLifelineMark[] = "conproxy client lifeline\n";
constexpr unsigned kLifelineMarkBytes = sizeof kLifelineMark - 1;

}  // namespace conproxy_protocol
