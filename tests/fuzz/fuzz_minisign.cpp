// libFuzzer target: minisign's public key and signature files on arbitrary bytes, as the build's
// firmware check reads a release's .minisig and its trusted keys. Beyond the sanitizers' checks
// it traps when a file read breaks the layout (tools/minisign.h).

#include "tools/minisign.h"

#include "fuzz_support.h"

using fuzz::check;

FUZZ_QUIET_INITIALIZER()

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > fuzz::max_input_size)
        return 0;
    const QByteArray text = fuzz::unowned(data, size);
    namespace layout = minisign::layout;
    QString fault;
    if (const std::optional<minisign::PublicKey> key = minisign::read_public_key(text, &fault)) {
        check(fault.isEmpty());
        check(key->key_id.size() == layout::key_id_size && key->key.size() == layout::key_size);
        check(minisign::key_id_text(key->key_id).size() == 2 * layout::key_id_size);
    } else {
        check(!fault.isEmpty());
    }
    fault.clear();
    if (const std::optional<minisign::Signature> s = minisign::read_signature(text, &fault)) {
        check(fault.isEmpty());
        check(s->algorithm.size() == layout::algorithm_size);
        check(s->key_id.size() == layout::key_id_size);
        check(s->signature.size() == layout::signature_size);
        check(s->global_signature.size() == layout::global_signature_size);
        check(s->trusted_comment.size() < int(size) && !s->trusted_comment.contains('\n'));
    } else {
        check(!fault.isEmpty());
    }
    return 0;
}
