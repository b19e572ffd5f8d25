% The two Octave entry points, korvane.mex and korvane.oct (and those of
% korvane_smallest), side by side over the calls of korvane_cases.m: the
% outcomes must be the same to the bit (results) and to the byte (messages
% and identifiers).
%   octave-cli --no-gui --norc --no-history -q tests/octave/korvane_entry_points.m <mex folder> <oct folder>
1;

function ok = same_outcome(x, y)
  ok = strcmp(x.message, y.message) && strcmp(x.identifier, y.identifier) ...
       && same_result(x.result, y.result) && same_result(x.second, y.second);
end

args = argv();
if numel(args) < 2
  error('usage: korvane_entry_points.m <mex folder> <oct folder>');
end
mex_folder = args{1};
oct_folder = args{2};

source(fullfile(fileparts(mfilename('fullpath')), 'korvane_cases.m'));

addpath(mex_folder);
mex_module = which('korvane');
mex_smallest = which('korvane_smallest');
mex_outcomes = run_all(cases);
rmpath(mex_folder);
addpath(oct_folder);
oct_module = which('korvane');
oct_smallest = which('korvane_smallest');
oct_outcomes = run_all(cases);

failed = 0;
if isempty(regexp(mex_module, 'korvane\.mex$', 'once')) ...
   || isempty(regexp(oct_module, 'korvane\.oct$', 'once')) ...
   || isempty(regexp(mex_smallest, 'korvane_smallest\.mex$', 'once')) ...
   || isempty(regexp(oct_smallest, 'korvane_smallest\.oct$', 'once'))
  printf('FAILED: the entry points are %s, %s, %s and %s\n', mex_module, oct_module, ...
         mex_smallest, oct_smallest);
  failed = failed + 1;
end
for c = 1:size(cases, 1)
  if ~same_outcome(mex_outcomes{c}, oct_outcomes{c})
    printf('FAILED: %s: MEX module "%s", oct-file "%s"\n', cases{c, 1}, ...
           mex_outcomes{c}.message, oct_outcomes{c}.message);
    failed = failed + 1;
  end
end
printf('%d cases, %d differ\n', size(cases, 1), failed);
if failed > 0
  exit(1);
end
