// Shared helpers of the test suites.
#pragma once
