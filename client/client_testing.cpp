// The hooks of conproxy_client_testing.h, for the project's own tests and benchmarks.
#include "client_platform.h"
#include "conproxy_client_testing.h"

namespace conclient {

bool ClientTestAccess::StartServer(ConproxyClient& client, const TestStartOptions& options,
                                   std::string* error) {
    const ClientNames& names = client.impl_->names;
    std::vector<std::string> args = conproxy_protocol::ServerArguments(
        options.serverPath, {names.suffix, names.requestEvent, names.replyEvent});
    if (options.argsOverride) {
        args = {options.serverPath};
        args.insert(args.end(), options.argsOverride->begin(), options.argsOverride->end());
    }
    const ServerStdio stdio{options.stdinFd, options.stdoutFd, options.stderrFd};
    return client.impl_->link->Spawn(args, options, stdio, error);
}
void ClientTestAccess::SetRequestEvent(ConproxyClient& client) {
    client.impl_->link->SetRequestEvent();
}
void ClientTestAccess::ResetReplyEvent(ConproxyClient& client) {
    client.impl_->link->ResetReplyEvent();
}
bool ClientTestAccess::ReplyEventIsSet(ConproxyClient& client) {
    return client.impl_->link->ReplyEventIsSet();
}

}  // namespace conclient
