#pragma once

// The fixed names of the component on the session bus. Parents and tests rely on them, so they
// never change between releases.
namespace bus {

inline constexpr const char *kServiceName = "com.zedazido.VEDerEve";
inline constexpr const char *kFactoryPath = "/com/zedazido/VEDerEve";
inline constexpr const char *kFactoryInterface = "com.zedazido.VEDerEve.ClassFactory";
// Objects live at kObjectPathPrefix + "/" + a decimal number starting at 1.
inline constexpr const char *kObjectPathPrefix = "/com/zedazido/VEDerEve/zozEZUdeZid";
inline constexpr const char *kObjectInterface = "com.zedazido.VEDerEve._zozEZUdeZid";
inline constexpr const char *kSinkInterface = "com.zedazido.VEDerEve.__zozEZUdeZid";
inline constexpr const char *kDispIdAnnotation = "com.zedazido.VEDerEve.DispId";

// How long an event waits for the parent's sink to answer. The panel is frozen meanwhile, so the
// bound is what a stuck parent can cost per event; after it the event counts as delivered with
// its byte array unchanged.
inline constexpr int kDefaultEventTimeoutMs = 5000;
// The server leaves this long after its last object ended (a parent that releases and creates
// again at once keeps the same process) ...
inline constexpr int kDefaultExitDelayMs = 500;
// ... and this long after start when nobody created an object (activated by mistake).
inline constexpr int kDefaultStartGraceMs = 30000;
// A parent's handler may call back into the object while its event waits, and that call may
// raise another event: waits nest. Past this depth an event is not sent and counts as delivered
// with its byte array unchanged, as on a timeout, so a sink that re-enters for ever costs a
// bounded stack instead of the whole server.
inline constexpr int kMaxEventNesting = 8;

} // namespace bus
