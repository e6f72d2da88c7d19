// The FTS5 tokenizer "mw" of the search index. The index's SQL functions
// write every token themselves (normalize.h), so the tokenizer only splits
// at spaces; a token written with a leading "+" is put at the same position
// as the token before it (FTS5's colocated tokens), which is how a bigram
// that begins a Latin word is found both as any bigram and as a word start.
// The text is taken as it is: no case folding, no other separators.
#pragma once

struct sqlite3;

namespace Mirelsearch_tlb::detail {

// Registers the tokenizer on a connection (every connection that reads or
// writes the index tables needs it). Throws EMirelSearch when the
// connection's SQLite has no FTS5.
void register_index_tokenizer(sqlite3* db);

}  // namespace Mirelsearch_tlb::detail
