#pragma once

// Kinds and answers of modal message boxes, shared by every window's view interface.
namespace halvora {

enum class BoxKind { Warning, Error, Information, Confirmation };
enum class BoxButtons { Ok, YesNoCancel, YesNo, RetryCancel };
enum class BoxAnswer { Ok, Yes, No, Cancel, Retry, Closed };

} // namespace halvora
