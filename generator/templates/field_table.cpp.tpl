constexpr FieldTable $table{$entries};
