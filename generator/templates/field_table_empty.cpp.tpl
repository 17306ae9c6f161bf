constexpr FieldTable<> $table{};
