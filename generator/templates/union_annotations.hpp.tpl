// Union annotations of $struct: its tag fields, and for each case field the
// tag values that select it.
struct $annotations {
  struct UnionTags {
    struct Strings {
      static constexpr const char* values[] = {$tags};
    };
  };

$cases
};
