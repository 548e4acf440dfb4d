// The help text of the kestrum utility ("kestrum -h").
#ifndef KESTRUM_USAGE_H
#define KESTRUM_USAGE_H

extern const char kKestrumUsage[];

#endif
