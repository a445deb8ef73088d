#include "admission.h"

namespace tagserve {

int DisplacedConnection(const std::vector<Standing>& standings)
{
    for (Standing weakest : {Standing::Opening, Standing::Sessionless})
        for (std::size_t i = 0; i < standings.size(); ++i)
            if (standings[i] == weakest)
                return static_cast<int>(i);
    return -1;
}

} // namespace tagserve
