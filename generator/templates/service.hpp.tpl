// Service "$id".
class $cls {
 public:
$members
};
