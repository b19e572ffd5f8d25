% Runs the tests in a help file as a user would, `test korvane`, with the
% module folder on the path; fails on any failing test, on fewer than the
% least count expected, and when the function resolves to the help file
% instead of the module.
%   octave-cli --no-gui --norc --no-history -q tests/octave/run_help_file_tests.m <module folder> [name least]
% (default: korvane, at least 5 tests)
args = argv();
addpath(args{1});
name = 'korvane';
least = 5;
if numel(args) >= 2
  name = args{2};
end
if numel(args) >= 3
  least = str2double(args{3});
end
[~, ~, extension] = fileparts(which(name));
[passed, total] = test(name, 'quiet', stdout);
printf('test %s: %d of %d passed; %s is the %s file\n', name, passed, total, name, extension);
exit(passed < total || total < least || strcmp(extension, '.m'));
