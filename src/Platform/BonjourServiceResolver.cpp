#include "Platform/BonjourServiceResolver.h"

#include "Platform/Bonjour.h"

ServiceResolver bonjourServiceResolver(int timeoutMs)
{
    return [timeoutMs](const ServiceEndpoint &service,
                       std::function<void(std::expected<HostPort, QString>)> done) {
        BonjourResolution::resolve({ service.name, service.type, service.domain }, timeoutMs,
                                   nullptr, [done](BonjourResolution::Result result) {
                                       if (!result) {
                                           done(std::unexpected(result.error()));
                                           return;
                                       }
                                       done(HostPort { result->address, result->port });
                                   });
    };
}
