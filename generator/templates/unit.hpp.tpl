// $banner
//
// $summary
#pragma once

$includes

namespace $namespace {

$body

}  // namespace $namespace

namespace Tovri {
namespace Data {

$type_infos

}  // namespace Data
}  // namespace Tovri
$specialisations
