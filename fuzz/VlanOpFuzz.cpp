// VLAN-edit commands: "Corvane::VlanOp(dword0=N, direction=D)" and the Ingress and
// Egress forms. Every input goes to the three readers; a VLAN-edit resource key never
// reads from text.
#include <cstdint>

#include "RoundTrip.h"
#include "corvane/resources/VlanEditResourceTypes.h"

using Corvane::EgressVlanOp;
using Corvane::IngressVlanOp;
using Corvane::VlanEditResourceKey;
using Corvane::VlanOp;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  std::string_view const text(reinterpret_cast<char const*>(data), size);

  auto const parseOp = [](std::string_view s) { return VlanOp::parse(s); };
  if (auto op = CorvaneFuzz::checkRoundTrip<VlanOp>("VlanOp", parseOp, text)) {
    // Either a format or the documented refusal of a command without a direction.
    try {
      VlanOp const f = op->vlanEditFormat();
      if (f.direction() != op->direction()) CorvaneFuzz::failure("VlanOp", text, "format changed the direction");
    } catch (Corvane::InternalError const&) {
      if (op->direction() != VlanOp::VlanOpDir::invalid) CorvaneFuzz::failure("VlanOp", text, "format refused");
    }
  }
  CorvaneFuzz::checkPrefix<VlanOp>(
      "VlanOp", [](std::string_view s, VlanOp& out) { return VlanOp::parsePrefix(s, out); }, parseOp, text);

  CorvaneFuzz::checkRoundTrip<IngressVlanOp>(
      "IngressVlanOp", [](std::string_view s) { return IngressVlanOp::parse(s); }, text);
  CorvaneFuzz::checkRoundTrip<EgressVlanOp>(
      "EgressVlanOp", [](std::string_view s) { return EgressVlanOp::parse(s); }, text);

  if (CorvaneFuzz::tryParse<VlanEditResourceKey>([](std::string_view s) { return VlanEditResourceKey(s); }, text)) {
    CorvaneFuzz::failure("VlanEditResourceKey", text, "a key was read from text");
  }
  return 0;
}
