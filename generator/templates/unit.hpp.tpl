// $banner
//
// $summary
#pragma once

$includes

namespace $namespace {

$body

}  // namespace $namespace

namespace Tovri::Data {

$type_infos

}  // namespace Tovri::Data
$specialisations
